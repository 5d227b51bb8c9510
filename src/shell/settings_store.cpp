#include "shell/settings_store.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include <QSettings>
#include <QString>
#include <QVariant>

#include "base/bounded_read.h"
#include "base/write_log.h"

namespace orb {
namespace {

std::string ConfigDirectory() {
  const char* pConfig = std::getenv("XDG_CONFIG_HOME");
  if (pConfig != nullptr && pConfig[0] == '/') {
    return pConfig;
  }
  const char* pHome = std::getenv("HOME");
  if (pHome != nullptr && pHome[0] == '/') {
    return std::string(pHome) + "/.config";
  }
  return {};
}

// The counterpart of opening the registry key with create access: the folder and the
// file exist afterwards. Only a regular file is a store: a FIFO would hang the reader
// (and SIGTERM with it), a device would be read without end; anything else is treated as
// absent, and the presets stay. A file we may only read is still read.
std::optional<QString> OpenStore(bool blForWriting) {
  const std::string path = SettingsFilePath();
  if (path.empty()) {
    return std::nullopt;
  }
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) {
    return std::nullopt;
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) {
      WriteLog("Settings: %s is %s, not a regular file; it is not used\r\n", path.c_str(),
               FileTypeName(status.st_mode));
      return std::nullopt;
    }
    if (::access(path.c_str(), blForWriting ? (R_OK | W_OK) : R_OK) != 0) {
      WriteLog("Settings: %s cannot be %s: %s\r\n", path.c_str(), blForWriting ? "written" : "read",
               std::strerror(errno));
      return std::nullopt;
    }
    return QString::fromStdString(path);
  }
  // O_EXCL: never through a link planted meanwhile, never over what appeared since.
  const int hFile = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (hFile < 0 && errno != EEXIST) {
    return std::nullopt;
  }
  if (hFile >= 0) {
    ::close(hFile);
  }
  return QString::fromStdString(path);
}

std::uint32_t StatusCode(QSettings::Status status) {
  switch (status) {
    case QSettings::NoError:
      return kSettingsSuccess;
    case QSettings::AccessError:
      return kSettingsAccessDenied;
    case QSettings::FormatError:
      return kSettingsInvalidData;
  }
  return kSettingsInvalidData;
}

std::optional<std::uint32_t> InRange(qlonglong nValue) {
  if (nValue < std::numeric_limits<std::int32_t>::min() || nValue > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;  // does not fit in 4 bytes: the preset stays
  }
  return static_cast<std::uint32_t>(nValue);
}

// A value read from the file is text; one written earlier in this process may still be
// the number it was written as.
std::optional<std::uint32_t> ParseValue(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
      return InRange(value.toLongLong());
    case QMetaType::ULongLong:
      return value.toULongLong() > std::numeric_limits<std::uint32_t>::max()
                 ? std::nullopt
                 : std::optional<std::uint32_t>(static_cast<std::uint32_t>(value.toULongLong()));
    case QMetaType::QString:
      break;
    default:
      return std::nullopt;  // a list or another structured value: not a number
  }
  const QString text = value.toString().trimmed();
  bool blOk = false;
  qlonglong nValue = 0;
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
    nValue = text.mid(2).toLongLong(&blOk, 16);
  } else {
    nValue = text.toLongLong(&blOk, 10);
  }
  return blOk ? InRange(nValue) : std::nullopt;
}

}  // namespace

std::string SettingsFilePath() {
  const std::string config = ConfigDirectory();
  return config.empty() ? std::string() : config + "/TARN/ORB.conf";
}

bool MX8RegGetValue(std::uint32_t* pValue, const char* pName) {
  const std::optional<QString> path = OpenStore(false);
  std::optional<QSettings> settings;
  if (path) {
    settings.emplace(*path, QSettings::IniFormat);
  }
  if (!settings || settings->status() != QSettings::NoError) {
    WriteLog("MX8RegGetValue: RegCreateKeyEx failed\r\n");
    return false;
  }
  if (const auto value = ParseValue(settings->value(QString::fromUtf8(pName)))) {
    *pValue = *value;
  }
  return true;
}

bool MX8RegSetValue(std::uint32_t value, const char* pName) {
  const std::optional<QString> path = OpenStore(true);
  if (!path) {
    return false;
  }
  QSettings settings(*path, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) {
    return false;
  }
  const std::uint32_t dwWrite = settings.isWritable() ? kSettingsSuccess : kSettingsAccessDenied;
  settings.setValue(QString::fromUtf8(pName), QVariant::fromValue(static_cast<uint>(value)));
  WriteLog("MX8RegSetValue : return = 0x%08x\r\n", dwWrite);
  settings.sync();
  const std::uint32_t dwFlush = StatusCode(settings.status());
  WriteLog("MX8RegSetValue : End RegFlushKey(0x%08x)\r\n", dwFlush);
  return dwFlush == kSettingsSuccess;
}

}  // namespace orb
