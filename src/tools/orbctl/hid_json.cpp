#include "tools/orbctl/hid_json.h"

#include <cstdio>

#include "base/hex_text.h"
#include "device/control_code.h"

namespace orb::orbctl {

using namespace platform;

namespace {

// A tiny writer: members in the order given, two-space indentation.
class Json {
 public:
  void Open(const char* pName, char cBracket) {
    Key(pName);
    m_sText += cBracket;
    m_blFirst = true;
    ++m_nDepth;
  }
  void Close(char cBracket) {
    --m_nDepth;
    if (!m_blFirst) Newline();
    m_sText += cBracket;
    m_blFirst = false;
  }
  void Number(const char* pName, long long n) {
    Key(pName);
    m_sText += std::to_string(n);
  }
  void Bool(const char* pName, bool bl) {
    Key(pName);
    m_sText += bl ? "true" : "false";
  }
  void String(const char* pName, const std::string& s) {
    Key(pName);
    m_sText += '"';
    for (char c : s) {
      if (c == '"' || c == '\\') m_sText += '\\';
      if (static_cast<unsigned char>(c) < 0x20) {
        char szEscape[8];
        std::snprintf(szEscape, sizeof szEscape, "\\u%04x", c);
        m_sText += szEscape;
        continue;
      }
      m_sText += c;
    }
    m_sText += '"';
  }
  void Null(const char* pName) {
    Key(pName);
    m_sText += "null";
  }
  std::string Take() { return std::move(m_sText) + "\n"; }

 private:
  void Key(const char* pName) {
    if (m_nDepth > 0) {
      if (!m_blFirst) m_sText += ',';
      Newline();
    }
    m_blFirst = false;
    if (pName != nullptr) {
      m_sText += '"';
      m_sText += pName;
      m_sText += "\": ";
    }
  }
  void Newline() {
    m_sText += '\n';
    m_sText.append(static_cast<std::size_t>(m_nDepth) * 2, ' ');
  }
  std::string m_sText;
  bool m_blFirst = true;
  int m_nDepth = 0;
};

template <typename Caps>
void CommonFields(Json& j, const Caps& c) {
  j.Number("UsagePage", c.UsagePage);
  j.Number("ReportID", c.ReportID);
  j.Bool("IsAlias", c.IsAlias);
  j.Number("BitField", c.BitField);
  j.Number("LinkCollection", c.LinkCollection);
  j.Number("LinkUsage", c.LinkUsage);
  j.Number("LinkUsagePage", c.LinkUsagePage);
  j.Bool("IsRange", c.IsRange);
  j.Bool("IsStringRange", c.IsStringRange);
  j.Bool("IsDesignatorRange", c.IsDesignatorRange);
  j.Bool("IsAbsolute", c.IsAbsolute);
}

template <typename Caps>
void UsageFields(Json& j, const Caps& c) {
  if (c.IsRange) {
    j.Number("UsageMin", c.Range.UsageMin);
    j.Number("UsageMax", c.Range.UsageMax);
    j.Number("StringMin", c.Range.StringMin);
    j.Number("StringMax", c.Range.StringMax);
    j.Number("DesignatorMin", c.Range.DesignatorMin);
    j.Number("DesignatorMax", c.Range.DesignatorMax);
    j.Number("DataIndexMin", c.Range.DataIndexMin);
    j.Number("DataIndexMax", c.Range.DataIndexMax);
  } else {
    j.Number("Usage", c.NotRange.Usage);
    j.Number("StringIndex", c.NotRange.StringIndex);
    j.Number("DesignatorIndex", c.NotRange.DesignatorIndex);
    j.Number("DataIndex", c.NotRange.DataIndex);
  }
}

void Group(Json& j, const char* pName, const HidPreparsedData::Group& g) {
  j.Open(pName, '{');
  j.Open("button_caps", '[');
  for (const HIDP_BUTTON_CAPS& c : g.buttonCaps) {
    j.Open(nullptr, '{');
    CommonFields(j, c);
    j.Number("ReportCount", c.ReportCount);
    UsageFields(j, c);
    j.Close('}');
  }
  j.Close(']');
  j.Open("value_caps", '[');
  for (const HIDP_VALUE_CAPS& c : g.valueCaps) {
    j.Open(nullptr, '{');
    CommonFields(j, c);
    j.Bool("HasNull", c.HasNull);
    j.Number("BitSize", c.BitSize);
    j.Number("ReportCount", c.ReportCount);
    j.Number("UnitsExp", c.UnitsExp);
    j.Number("Units", c.Units);
    j.Number("LogicalMin", c.LogicalMin);
    j.Number("LogicalMax", c.LogicalMax);
    j.Number("PhysicalMin", c.PhysicalMin);
    j.Number("PhysicalMax", c.PhysicalMax);
    UsageFields(j, c);
    j.Close('}');
  }
  j.Close(']');
  j.Close('}');
}

}  // namespace

std::string CapsJson(const HidPreparsedData& data, std::size_t nCollection, std::size_t nCollections) {
  const HIDP_CAPS& c = data.Caps();
  Json j;
  j.Open(nullptr, '{');
  j.Number("collection", static_cast<long long>(nCollection));
  j.Number("top_level_collections", static_cast<long long>(nCollections));
  j.Open("caps", '{');
  j.Number("Usage", c.Usage);
  j.Number("UsagePage", c.UsagePage);
  j.Number("InputReportByteLength", c.InputReportByteLength);
  j.Number("OutputReportByteLength", c.OutputReportByteLength);
  j.Number("FeatureReportByteLength", c.FeatureReportByteLength);
  j.Number("NumberLinkCollectionNodes", c.NumberLinkCollectionNodes);
  j.Number("NumberInputButtonCaps", c.NumberInputButtonCaps);
  j.Number("NumberInputValueCaps", c.NumberInputValueCaps);
  j.Number("NumberInputDataIndices", c.NumberInputDataIndices);
  j.Number("NumberOutputButtonCaps", c.NumberOutputButtonCaps);
  j.Number("NumberOutputValueCaps", c.NumberOutputValueCaps);
  j.Number("NumberOutputDataIndices", c.NumberOutputDataIndices);
  j.Number("NumberFeatureButtonCaps", c.NumberFeatureButtonCaps);
  j.Number("NumberFeatureValueCaps", c.NumberFeatureValueCaps);
  j.Number("NumberFeatureDataIndices", c.NumberFeatureDataIndices);
  j.Close('}');
  Group(j, "input", data.GroupOf(HidP_Input));
  Group(j, "output", data.GroupOf(HidP_Output));
  Group(j, "feature", data.GroupOf(HidP_Feature));
  j.Close('}');
  return j.Take();
}

std::string DecodeJson(const HidDeviceRecord& record, bool blHaveEvent, const ControlEvent& event) {
  Json j;
  j.Open(nullptr, '{');
  j.String("report", FormatHex(record.input.report.data(), record.input.report.size()));
  j.Open("items", '[');
  for (std::uint32_t i = 0; i < record.input.nItemCount; ++i) {
    const HidDataItem& item = record.input.items[i];
    j.Open(nullptr, '{');
    j.Bool("IsButton", item.blIsButton);
    j.Number("UsagePage", item.nUsagePage);
    j.Number("ReportID", item.nReportId);
    j.Bool("IsSet", item.blIsSet);
    j.String("Status", HidStatusName(item.nStatus));
    if (item.blIsButton) {
      j.Number("UsageMin", item.nUsageMin);
      j.Number("UsageMax", item.nUsageMax);
      j.Open("Usages", '[');
      for (std::uint32_t k = 0; k < item.nUsageListLength && item.usageList[k] != 0; ++k) {
        j.Number(nullptr, item.usageList[k]);
      }
      j.Close(']');
    } else {
      j.Number("Usage", item.nUsage);
      j.Number("RawValue", item.nRawValue);
      j.Number("ScaledValue", item.nScaledValue);
    }
    j.Close('}');
  }
  j.Close(']');
  if (blHaveEvent) {
    j.Open("event", '{');
    j.Number("kind", event.nKind);
    j.Number("value", event.nValue);
    if (event.nKind == kReportButtons) {
      const ControlCode nCode = ControlCodeForUsage(static_cast<std::uint16_t>(event.nValue));
      j.Number("control", nCode);
      const char* pCaption = ControlCaption(nCode);
      if (pCaption != nullptr) {
        j.String("caption", pCaption);
      } else {
        j.Null("caption");
      }
    }
    j.Close('}');
  } else {
    j.Null("event");
  }
  j.Close('}');
  return j.Take();
}

}  // namespace orb::orbctl
