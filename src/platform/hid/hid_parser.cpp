#include "platform/hid/hid_parser.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace orb::platform {

namespace {

constexpr int kMaxCollectionDepth = 32;
constexpr int kMaxPushDepth = 16;
constexpr std::uint32_t kMaxReportSize = 256;  // bits per field, as the kernel allows
constexpr std::uint32_t kMaxReportCount = 65535;
constexpr std::uint32_t kMaxDataIndices = 65535;

__extension__ typedef __int128 Int128;

bool ValidType(HIDP_REPORT_TYPE type) { return type >= HidP_Input && type <= HidP_Feature; }

// Little-endian bit fields, the way HID packs them. At most 32 bits are read; the bytes
// touched never pass the field's own end.
std::uint32_t ReadBits(const std::uint8_t* pReport, std::uint32_t nBitOffset, unsigned nBits) {
  if (nBits == 0) return 0;
  const std::uint32_t nFirst = nBitOffset >> 3;
  const unsigned nShift = nBitOffset & 7u;
  const unsigned nBytes = (nShift + nBits + 7) / 8;
  std::uint64_t nValue = 0;
  for (unsigned i = 0; i < nBytes; ++i) nValue |= std::uint64_t{pReport[nFirst + i]} << (8 * i);
  nValue >>= nShift;
  if (nBits < 64) nValue &= (std::uint64_t{1} << nBits) - 1;
  return static_cast<std::uint32_t>(nValue);
}

// Writes a whole field of nBits; bits above the 32 given are cleared.
void WriteBits(std::uint8_t* pReport, std::uint32_t nBitOffset, unsigned nBits, std::uint32_t nValue) {
  for (unsigned i = 0; i < nBits; ++i) {
    const std::uint32_t nBit = nBitOffset + i;
    const std::uint8_t nMask = static_cast<std::uint8_t>(1u << (nBit & 7u));
    const bool blOn = i < 32 && ((nValue >> i) & 1u) != 0;
    if (blOn) {
      pReport[nBit >> 3] = static_cast<std::uint8_t>(pReport[nBit >> 3] | nMask);
    } else {
      pReport[nBit >> 3] = static_cast<std::uint8_t>(pReport[nBit >> 3] & ~nMask);
    }
  }
}

std::int64_t SignExtend(std::uint32_t nRaw, unsigned nBits) {
  const unsigned nUsed = std::min(nBits, 32u);
  if (nUsed == 0) return 0;
  if (nUsed == 32) return static_cast<std::int32_t>(nRaw);
  const std::uint32_t nSign = 1u << (nUsed - 1);
  return static_cast<std::int64_t>(static_cast<std::int32_t>((nRaw ^ nSign) - nSign));
}

// The logical value of a field: sign-extended when the logical minimum is negative.
std::int64_t LogicalValue(std::uint32_t nRaw, unsigned nBits, std::int32_t nLogicalMin) {
  return nLogicalMin < 0 ? SignExtend(nRaw, nBits) : static_cast<std::int64_t>(nRaw);
}

bool UsageIn(USAGE nUsage, USAGE nMin, USAGE nMax) { return nUsage >= nMin && nUsage <= nMax; }

}  // namespace

const char* HidStatusName(NTSTATUS nStatus) {
  switch (nStatus) {
    case HIDP_STATUS_SUCCESS: return "HIDP_STATUS_SUCCESS";
    case HIDP_STATUS_NULL: return "HIDP_STATUS_NULL";
    case HIDP_STATUS_INVALID_PREPARSED_DATA: return "HIDP_STATUS_INVALID_PREPARSED_DATA";
    case HIDP_STATUS_INVALID_REPORT_TYPE: return "HIDP_STATUS_INVALID_REPORT_TYPE";
    case HIDP_STATUS_INVALID_REPORT_LENGTH: return "HIDP_STATUS_INVALID_REPORT_LENGTH";
    case HIDP_STATUS_USAGE_NOT_FOUND: return "HIDP_STATUS_USAGE_NOT_FOUND";
    case HIDP_STATUS_VALUE_OUT_OF_RANGE: return "HIDP_STATUS_VALUE_OUT_OF_RANGE";
    case HIDP_STATUS_BAD_LOG_PHY_VALUES: return "HIDP_STATUS_BAD_LOG_PHY_VALUES";
    case HIDP_STATUS_BUFFER_TOO_SMALL: return "HIDP_STATUS_BUFFER_TOO_SMALL";
    case HIDP_STATUS_INCOMPATIBLE_REPORT_ID: return "HIDP_STATUS_INCOMPATIBLE_REPORT_ID";
    default: return "HIDP_STATUS_UNKNOWN";
  }
}

std::uint16_t HidPreparsedData::ReportByteLength(HIDP_REPORT_TYPE type) const {
  switch (type) {
    case HidP_Input: return m_caps.InputReportByteLength;
    case HidP_Output: return m_caps.OutputReportByteLength;
    case HidP_Feature: return m_caps.FeatureReportByteLength;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Parsing

class HidDescriptorParser {
 public:
  HidDescriptorParser(std::vector<HidPreparsedData>* pOut, std::string* pError) : m_pOut(pOut), m_pError(pError) {
    m_reportOwner.fill(-1);
  }

  bool Parse(const std::uint8_t* p, std::size_t nSize);

 private:
  struct Globals {
    std::uint32_t nUsagePage = 0;
    std::int32_t nLogicalMin = 0;
    std::int32_t nLogicalMax = 0;
    std::int32_t nPhysicalMin = 0;
    std::int32_t nPhysicalMax = 0;
    std::uint32_t nUnitExp = 0;
    std::uint32_t nUnit = 0;
    std::uint32_t nReportSize = 0;
    std::uint32_t nReportId = 0;
    std::uint32_t nReportCount = 0;
  };
  struct UsageEntry {
    std::uint32_t nMin;
    std::uint32_t nMax;
    bool blRange;
    bool blExtended;  // the page came with the usage (4-byte item)
  };
  struct Locals {
    std::vector<UsageEntry> usages;
    bool blHaveMin = false;
    std::uint32_t nPendingMin = 0;
    bool blPendingMinExtended = false;
    std::uint32_t nDesignatorIndex = 0, nDesignatorMin = 0, nDesignatorMax = 0;
    bool blDesignatorRange = false;
    std::uint32_t nStringIndex = 0, nStringMin = 0, nStringMax = 0;
    bool blStringRange = false;
    int nDelimiterDepth = 0;
    std::size_t nDelimiterStart = 0;
  };
  struct Resolved {
    USAGE nPage;
    USAGE nMin;
    USAGE nMax;
    bool blRange;
    std::uint32_t nFirstField;
    std::uint32_t nFields;
  };

  bool Fail(const char* pFormat, unsigned nA = 0, unsigned nB = 0);
  bool OnMain(unsigned nTag, std::uint32_t nData);
  bool OnCollection(std::uint32_t nData);
  bool OnEndCollection();
  bool OnField(HIDP_REPORT_TYPE type, std::uint32_t nData);
  bool OnLocal(unsigned nTag, std::uint32_t nData, unsigned nBytes);
  bool ResolveUsages(std::vector<Resolved>* pOut);
  void ClearLocals() { m_locals = Locals{}; }
  bool Finish();

  std::vector<HidPreparsedData>* m_pOut;
  std::string* m_pError;
  Globals m_globals;
  std::vector<Globals> m_pushed;
  Locals m_locals;

  // The top-level collection being built (index into *m_pOut), -1 between them.
  int m_nTlc = -1;
  struct Node {
    USAGE nUsagePage;
    USAGE nUsage;
  };
  std::vector<Node> m_nodes;           // link collections of the current top-level one
  std::vector<std::uint16_t> m_linkStack;
  std::uint32_t m_nDataIndex[kHidReportTypes] = {};
  std::uint16_t m_nArrayItems[kHidReportTypes] = {};
  std::array<std::uint32_t, 256> m_bitOffset[kHidReportTypes] = {};
  std::array<int, 256> m_reportOwner;  // top-level collection that uses each report id
  bool m_blAnyReportId = false;
  bool m_blUnnumberedData = false;
};

bool HidDescriptorParser::Fail(const char* pFormat, unsigned nA, unsigned nB) {
  char szText[160];
  std::snprintf(szText, sizeof szText, pFormat, nA, nB);
  if (m_pError != nullptr) *m_pError = szText;
  return false;
}

bool HidDescriptorParser::Parse(const std::uint8_t* p, std::size_t nSize) {
  if (nSize == 0) return Fail("empty report descriptor");
  if (nSize > kHidMaxDescriptorBytes) {
    return Fail("report descriptor of %u bytes is longer than the %u a device may have",
                static_cast<unsigned>(nSize), static_cast<unsigned>(kHidMaxDescriptorBytes));
  }
  std::size_t nPos = 0;
  while (nPos < nSize) {
    const std::uint8_t nPrefix = p[nPos];
    if (nPrefix == 0xFE) return Fail("long item at offset %u (not supported)", static_cast<unsigned>(nPos));
    const unsigned nBytes = (nPrefix & 3u) == 3u ? 4u : (nPrefix & 3u);
    const unsigned nType = (nPrefix >> 2) & 3u;
    const unsigned nTag = nPrefix >> 4;
    if (nPos + 1 + nBytes > nSize) {
      return Fail("item at offset %u is cut off by the end of the descriptor", static_cast<unsigned>(nPos));
    }
    std::uint32_t nData = 0;
    for (unsigned i = 0; i < nBytes; ++i) nData |= std::uint32_t{p[nPos + 1 + i]} << (8 * i);
    // Logical and physical extents are signed at their own size.
    std::int32_t nSigned = 0;
    if (nBytes == 1) nSigned = static_cast<std::int8_t>(nData);
    if (nBytes == 2) nSigned = static_cast<std::int16_t>(nData);
    if (nBytes == 4) nSigned = static_cast<std::int32_t>(nData);
    const unsigned nItemPos = static_cast<unsigned>(nPos);
    nPos += 1 + nBytes;

    switch (nType) {
      case 0:
        if (!OnMain(nTag, nData)) return false;
        break;
      case 1:
        switch (nTag) {
          case 0x0: m_globals.nUsagePage = nData; break;
          case 0x1: m_globals.nLogicalMin = nSigned; break;
          case 0x2: m_globals.nLogicalMax = nSigned; break;
          case 0x3: m_globals.nPhysicalMin = nSigned; break;
          case 0x4: m_globals.nPhysicalMax = nSigned; break;
          case 0x5: m_globals.nUnitExp = nData; break;
          case 0x6: m_globals.nUnit = nData; break;
          case 0x7:
            if (nData > kMaxReportSize) return Fail("report size %u at offset %u is absurd", nData, nItemPos);
            m_globals.nReportSize = nData;
            break;
          case 0x8:
            if (nData == 0 || nData > 255) return Fail("report id %u at offset %u is out of range", nData, nItemPos);
            m_globals.nReportId = nData;
            m_blAnyReportId = true;
            break;
          case 0x9:
            if (nData > kMaxReportCount) return Fail("report count %u at offset %u is absurd", nData, nItemPos);
            m_globals.nReportCount = nData;
            break;
          case 0xA:
            if (m_pushed.size() >= static_cast<std::size_t>(kMaxPushDepth)) {
              return Fail("Push at offset %u nests deeper than %u", nItemPos, kMaxPushDepth);
            }
            m_pushed.push_back(m_globals);
            break;
          case 0xB:
            if (m_pushed.empty()) return Fail("Pop at offset %u without Push", nItemPos);
            m_globals = m_pushed.back();
            m_pushed.pop_back();
            break;
          default:
            break;  // reserved global tags carry nothing we use
        }
        break;
      case 2:
        if (!OnLocal(nTag, nData, nBytes)) return false;
        break;
      default:
        return Fail("reserved item type at offset %u", nItemPos);
    }
  }
  return Finish();
}

bool HidDescriptorParser::OnLocal(unsigned nTag, std::uint32_t nData, unsigned nBytes) {
  Locals& l = m_locals;
  const bool blExtended = nBytes == 4;
  // Inside a delimiter set only the first usage counts; the others are alternatives.
  const bool blAlias = l.nDelimiterDepth > 0 && l.usages.size() > l.nDelimiterStart;
  switch (nTag) {
    case 0x0:
      if (blAlias) break;
      if (l.usages.size() >= 65536) return Fail("more than 65536 usages before one main item");
      l.usages.push_back({nData, nData, false, blExtended});
      break;
    case 0x1:
      l.blHaveMin = true;
      l.nPendingMin = nData;
      l.blPendingMinExtended = blExtended;
      break;
    case 0x2:
      // A maximum without a minimum carries no range; ignored as the kernel does.
      if (!l.blHaveMin) break;
      l.blHaveMin = false;
      if (blAlias) break;
      {
        const bool blExt = blExtended || l.blPendingMinExtended;
        std::uint32_t nMin = l.nPendingMin;
        std::uint32_t nMax = nData;
        // A range is on one page: an extended maximum lends its page to a short minimum.
        if (blExtended && !l.blPendingMinExtended) nMin = (nMax & 0xFFFF0000u) | (nMin & 0xFFFFu);
        if (!blExtended && l.blPendingMinExtended) nMax = (nMin & 0xFFFF0000u) | (nMax & 0xFFFFu);
        if ((nMin & 0xFFFFu) > (nMax & 0xFFFFu) || (blExt && (nMin >> 16) != (nMax >> 16))) {
          return Fail("usage range %#x..%#x runs backwards", nMin, nMax);
        }
        if (l.usages.size() >= 65536) return Fail("more than 65536 usages before one main item");
        l.usages.push_back({nMin, nMax, true, blExt});
      }
      break;
    case 0x3: l.nDesignatorIndex = nData; break;
    case 0x4: l.nDesignatorMin = nData; l.blDesignatorRange = true; break;
    case 0x5: l.nDesignatorMax = nData; l.blDesignatorRange = true; break;
    case 0x7: l.nStringIndex = nData; break;
    case 0x8: l.nStringMin = nData; l.blStringRange = true; break;
    case 0x9: l.nStringMax = nData; l.blStringRange = true; break;
    case 0xA:
      if (nData == 1) {
        if (l.nDelimiterDepth > 0) return Fail("nested delimiter sets");
        l.nDelimiterDepth = 1;
        l.nDelimiterStart = l.usages.size();
      } else if (nData == 0) {
        if (l.nDelimiterDepth == 0) return Fail("delimiter close without open");
        l.nDelimiterDepth = 0;
      } else {
        return Fail("delimiter with value %u", nData);
      }
      break;
    default:
      break;
  }
  return true;
}

bool HidDescriptorParser::OnMain(unsigned nTag, std::uint32_t nData) {
  bool blOk = true;
  switch (nTag) {
    case 0x8: blOk = OnField(HidP_Input, nData); break;
    case 0x9: blOk = OnField(HidP_Output, nData); break;
    case 0xB: blOk = OnField(HidP_Feature, nData); break;
    case 0xA: blOk = OnCollection(nData); break;
    case 0xC: blOk = OnEndCollection(); break;
    default: break;  // reserved main tags: nothing to lay out
  }
  ClearLocals();
  return blOk;
}

bool HidDescriptorParser::OnCollection(std::uint32_t nData) {
  (void)nData;
  if (static_cast<int>(m_linkStack.size()) >= kMaxCollectionDepth) {
    return Fail("collections nest deeper than %u", kMaxCollectionDepth);
  }
  USAGE nPage = static_cast<USAGE>(m_globals.nUsagePage);
  USAGE nUsage = 0;
  if (!m_locals.usages.empty()) {
    const UsageEntry& e = m_locals.usages.front();
    if (e.blExtended) nPage = static_cast<USAGE>(e.nMin >> 16);
    nUsage = static_cast<USAGE>(e.nMin);
  }
  if (m_linkStack.empty()) {
    // A new top-level collection: its own caps, link nodes and data indices.
    m_pOut->emplace_back();
    m_nTlc = static_cast<int>(m_pOut->size()) - 1;
    HIDP_CAPS& caps = (*m_pOut)[static_cast<std::size_t>(m_nTlc)].m_caps;
    caps.UsagePage = nPage;
    caps.Usage = nUsage;
    m_nodes.clear();
    for (auto& n : m_nDataIndex) n = 0;
    for (auto& n : m_nArrayItems) n = 0;
  }
  if (m_nodes.size() >= 65535) return Fail("more than 65535 collections");
  m_nodes.push_back({nPage, nUsage});
  m_linkStack.push_back(static_cast<std::uint16_t>(m_nodes.size() - 1));
  return true;
}

bool HidDescriptorParser::OnEndCollection() {
  if (m_linkStack.empty()) return Fail("End Collection without Collection");
  m_linkStack.pop_back();
  if (m_linkStack.empty()) {
    HidPreparsedData& data = (*m_pOut)[static_cast<std::size_t>(m_nTlc)];
    data.m_caps.NumberLinkCollectionNodes = static_cast<std::uint16_t>(m_nodes.size());
    m_nTlc = -1;
  }
  return true;
}

bool HidDescriptorParser::ResolveUsages(std::vector<Resolved>* pOut) {
  const std::uint32_t nCount = m_globals.nReportCount;
  std::uint32_t nNext = 0;
  const std::size_t nEntries = m_locals.usages.size();
  for (std::size_t i = 0; i < nEntries && nNext < nCount; ++i) {
    const UsageEntry& e = m_locals.usages[i];
    const USAGE nPage = e.blExtended ? static_cast<USAGE>(e.nMin >> 16) : static_cast<USAGE>(m_globals.nUsagePage);
    USAGE nMin = static_cast<USAGE>(e.nMin);
    USAGE nMax = static_cast<USAGE>(e.nMax);
    const std::uint32_t nSpan = std::uint32_t{nMax} - nMin + 1;
    const std::uint32_t nLeft = nCount - nNext;
    const bool blLast = i + 1 == nEntries;
    const std::uint32_t nTake = blLast ? nLeft : std::min(nSpan, nLeft);
    // Usages beyond the fields there are have nothing to describe.
    if (nTake < nSpan) nMax = static_cast<USAGE>(nMin + nTake - 1);
    pOut->push_back({nPage, nMin, nMax, e.blRange, nNext, nTake});
    nNext += nTake;
  }
  return true;
}

bool HidDescriptorParser::OnField(HIDP_REPORT_TYPE type, std::uint32_t nData) {
  if (m_linkStack.empty()) {
    return Fail(type == HidP_Input    ? "Input item outside any collection"
                : type == HidP_Output ? "Output item outside any collection"
                                      : "Feature item outside any collection");
  }
  const std::uint32_t nId = m_globals.nReportId;
  const int nOwner = m_reportOwner[nId];
  if (nOwner >= 0 && nOwner != m_nTlc) {
    return nId == 0 ? Fail("several top-level collections without report ids")
                    : Fail("report id %u is used by two top-level collections", nId);
  }
  m_reportOwner[nId] = m_nTlc;
  if (nId == 0) m_blUnnumberedData = true;

  HidPreparsedData& data = (*m_pOut)[static_cast<std::size_t>(m_nTlc)];
  if (nId != 0) data.m_blUsesReportIds = true;

  const std::uint32_t nSize = m_globals.nReportSize;
  const std::uint32_t nCount = m_globals.nReportCount;
  const std::uint64_t nStart = m_bitOffset[type][nId] == 0 ? 8 : m_bitOffset[type][nId];
  const std::uint64_t nEnd = nStart + std::uint64_t{nSize} * nCount;
  if ((nEnd + 7) / 8 > kHidMaxReportBytes) {
    return Fail(type == HidP_Input    ? "input report %u is longer than %u bytes"
                : type == HidP_Output ? "output report %u is longer than %u bytes"
                                      : "feature report %u is longer than %u bytes",
                nId, static_cast<unsigned>(kHidMaxReportBytes));
  }
  m_bitOffset[type][nId] = static_cast<std::uint32_t>(nEnd);
  std::uint16_t* pLength = type == HidP_Input    ? &data.m_caps.InputReportByteLength
                           : type == HidP_Output ? &data.m_caps.OutputReportByteLength
                                                 : &data.m_caps.FeatureReportByteLength;
  *pLength = std::max<std::uint16_t>(*pLength, static_cast<std::uint16_t>((nEnd + 7) / 8));

  if (m_locals.usages.empty() || nCount == 0) return true;  // padding

  const bool blArray = (nData & 0x02u) == 0;
  // A constant array can select nothing: Windows gives it no capability and no data
  // index, whatever usages come before it. Its bits were counted above all the same.
  if (blArray && (nData & 0x01u) != 0) return true;
  const bool blButton = blArray || nSize == 1;
  const std::uint16_t nLink = m_linkStack.back();
  const Node& node = m_nodes[nLink];
  HidPreparsedData::Group& group = data.m_groups[type];
  const std::uint16_t nArrayItem = m_nArrayItems[type];

  std::vector<Resolved> resolved;
  // For arrays: the index of each entry's first usage among all of the item's usages.
  std::vector<std::uint32_t> arrayFirst;
  if (!blArray) {
    ResolveUsages(&resolved);
    arrayFirst.assign(resolved.size(), 0);
  } else {
    // An array keeps every declared usage: each field selects among all of them.
    ++m_nArrayItems[type];
    std::uint64_t nIndex = 0;
    for (const UsageEntry& e : m_locals.usages) {
      const USAGE nPage = e.blExtended ? static_cast<USAGE>(e.nMin >> 16) : static_cast<USAGE>(m_globals.nUsagePage);
      resolved.push_back({nPage, static_cast<USAGE>(e.nMin), static_cast<USAGE>(e.nMax), e.blRange, 0, nCount});
      arrayFirst.push_back(static_cast<std::uint32_t>(nIndex));
      nIndex += std::uint32_t{static_cast<USAGE>(e.nMax)} - static_cast<USAGE>(e.nMin) + 1;
      // Checked here, before the indices below are taken from these sums.
      if (m_nDataIndex[type] + nIndex > kMaxDataIndices + 1) {
        return Fail("more than %u data indices", kMaxDataIndices + 1);
      }
    }
  }

  const std::uint32_t nFirstDataIndex = m_nDataIndex[type];
  for (std::size_t k = resolved.size(); k-- > 0;) {
    const Resolved& r = resolved[k];
    const std::uint32_t nUsages = std::uint32_t{r.nMax} - r.nMin + 1;
    const std::uint32_t nIndices = r.blRange ? nUsages : 1;
    std::uint32_t& nCounter = m_nDataIndex[type];
    if (nCounter + nIndices > kMaxDataIndices + 1) return Fail("more than %u data indices", kMaxDataIndices + 1);
    // An array's capabilities are listed last first like any others, but Windows numbers
    // its usages in the order they were declared.
    const std::uint32_t nDataFirst = blArray ? nFirstDataIndex + arrayFirst[k] : nCounter;
    const std::uint16_t nDataMin = static_cast<std::uint16_t>(nDataFirst);
    const std::uint16_t nDataMax = static_cast<std::uint16_t>(nDataFirst + nIndices - 1);
    nCounter += nIndices;

    HidCapsRange range{};
    range.UsageMin = r.nMin;
    range.UsageMax = r.blRange ? r.nMax : r.nMin;
    range.StringMin = static_cast<std::uint16_t>(m_locals.blStringRange ? m_locals.nStringMin : m_locals.nStringIndex);
    range.StringMax = static_cast<std::uint16_t>(m_locals.blStringRange ? m_locals.nStringMax : m_locals.nStringIndex);
    range.DesignatorMin =
        static_cast<std::uint16_t>(m_locals.blDesignatorRange ? m_locals.nDesignatorMin : m_locals.nDesignatorIndex);
    range.DesignatorMax =
        static_cast<std::uint16_t>(m_locals.blDesignatorRange ? m_locals.nDesignatorMax : m_locals.nDesignatorIndex);
    range.DataIndexMin = nDataMin;
    range.DataIndexMax = nDataMax;
    const HidCapsNotRange notRange{range.UsageMin, range.StringMin, range.DesignatorMin, range.DataIndexMin};

    HidFieldLayout layout{};
    layout.nBitOffset = static_cast<std::uint32_t>(nStart + std::uint64_t{r.nFirstField} * nSize);
    layout.nBitSize = static_cast<std::uint16_t>(nSize);
    layout.nFieldCount = static_cast<std::uint16_t>(r.nFields);
    layout.blIsArray = blArray;
    layout.nArrayItem = nArrayItem;
    layout.nArrayFirst = static_cast<std::uint16_t>(blArray ? arrayFirst[k] : 0);
    layout.nLogicalMin = m_globals.nLogicalMin;
    layout.nLogicalMax = m_globals.nLogicalMax;

    if (blButton) {
      HIDP_BUTTON_CAPS c{};
      c.UsagePage = r.nPage;
      c.ReportID = static_cast<std::uint8_t>(nId);
      c.BitField = static_cast<std::uint16_t>(nData);
      c.LinkCollection = nLink;
      c.LinkUsage = node.nUsage;
      c.LinkUsagePage = node.nUsagePage;
      c.IsRange = r.blRange;
      c.IsStringRange = m_locals.blStringRange;
      c.IsDesignatorRange = m_locals.blDesignatorRange;
      c.IsAbsolute = (nData & 0x04u) == 0;
      c.ReportCount = static_cast<std::uint16_t>(r.nFields);
      c.Range = range;
      c.NotRange = notRange;
      group.buttonCaps.push_back(c);
      group.buttonLayout.push_back(layout);
    } else {
      HIDP_VALUE_CAPS c{};
      c.UsagePage = r.nPage;
      c.ReportID = static_cast<std::uint8_t>(nId);
      c.BitField = static_cast<std::uint16_t>(nData);
      c.LinkCollection = nLink;
      c.LinkUsage = node.nUsage;
      c.LinkUsagePage = node.nUsagePage;
      c.IsRange = r.blRange;
      c.IsStringRange = m_locals.blStringRange;
      c.IsDesignatorRange = m_locals.blDesignatorRange;
      c.IsAbsolute = (nData & 0x04u) == 0;
      c.HasNull = (nData & 0x40u) != 0;
      c.BitSize = static_cast<std::uint16_t>(nSize);
      // A range describes one field per usage; a single usage owns all of its fields
      // (a value array when there are several).
      c.ReportCount = static_cast<std::uint16_t>(r.blRange ? 1 : r.nFields);
      c.UnitsExp = m_globals.nUnitExp;
      c.Units = m_globals.nUnit;
      c.LogicalMin = m_globals.nLogicalMin;
      c.LogicalMax = m_globals.nLogicalMax;
      c.PhysicalMin = m_globals.nPhysicalMin;
      c.PhysicalMax = m_globals.nPhysicalMax;
      c.Range = range;
      c.NotRange = notRange;
      group.valueCaps.push_back(c);
      group.valueLayout.push_back(layout);
    }
    if (group.buttonCaps.size() + group.valueCaps.size() > 65535) return Fail("more than 65535 capabilities");
  }
  return true;
}

bool HidDescriptorParser::Finish() {
  if (!m_linkStack.empty()) return Fail("%u collection(s) not closed", static_cast<unsigned>(m_linkStack.size()));
  if (m_pOut->empty()) return Fail("no top-level collection");
  if (m_blAnyReportId && m_blUnnumberedData) {
    return Fail("reports without a report id in a descriptor that numbers its reports");
  }
  for (HidPreparsedData& data : *m_pOut) {
    HIDP_CAPS& c = data.m_caps;
    const auto& in = data.m_groups[HidP_Input];
    const auto& out = data.m_groups[HidP_Output];
    const auto& feat = data.m_groups[HidP_Feature];
    c.NumberInputButtonCaps = static_cast<std::uint16_t>(in.buttonCaps.size());
    c.NumberInputValueCaps = static_cast<std::uint16_t>(in.valueCaps.size());
    c.NumberOutputButtonCaps = static_cast<std::uint16_t>(out.buttonCaps.size());
    c.NumberOutputValueCaps = static_cast<std::uint16_t>(out.valueCaps.size());
    c.NumberFeatureButtonCaps = static_cast<std::uint16_t>(feat.buttonCaps.size());
    c.NumberFeatureValueCaps = static_cast<std::uint16_t>(feat.valueCaps.size());
    std::uint32_t nIndices[kHidReportTypes] = {};
    for (int t = 0; t < kHidReportTypes; ++t) {
      for (const auto& b : data.m_groups[t].buttonCaps) nIndices[t] = std::max<std::uint32_t>(nIndices[t], b.Range.DataIndexMax + 1u);
      for (const auto& v : data.m_groups[t].valueCaps) nIndices[t] = std::max<std::uint32_t>(nIndices[t], v.Range.DataIndexMax + 1u);
    }
    c.NumberInputDataIndices = static_cast<std::uint16_t>(nIndices[0]);
    c.NumberOutputDataIndices = static_cast<std::uint16_t>(nIndices[1]);
    c.NumberFeatureDataIndices = static_cast<std::uint16_t>(nIndices[2]);
  }
  return true;
}

bool ParseReportDescriptor(const std::uint8_t* pDescriptor, std::size_t nSize,
                           std::vector<HidPreparsedData>* pCollections, std::string* pError) {
  pCollections->clear();
  HidDescriptorParser parser(pCollections, pError);
  if (!parser.Parse(pDescriptor, nSize)) {
    pCollections->clear();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Operations

NTSTATUS HidP_GetCaps(const HidPreparsedData& data, HIDP_CAPS* pCaps) {
  *pCaps = data.Caps();
  return HIDP_STATUS_SUCCESS;
}

namespace {

template <typename Caps>
NTSTATUS GetSpecificCaps(const std::vector<Caps>& all, USAGE nUsagePage, std::uint16_t nLink, USAGE nUsage,
                         Caps* pCaps, std::uint16_t* pLength) {
  std::uint32_t nTotal = 0;
  for (const Caps& c : all) {
    if (nUsagePage != 0 && c.UsagePage != nUsagePage) continue;
    if (nLink != 0 && c.LinkCollection != nLink) continue;
    if (nUsage != 0 && !UsageIn(nUsage, c.Range.UsageMin, c.Range.UsageMax)) continue;
    if (nTotal < *pLength) pCaps[nTotal] = c;
    ++nTotal;
  }
  if (nTotal == 0) {
    *pLength = 0;
    return HIDP_STATUS_USAGE_NOT_FOUND;
  }
  const bool blTooSmall = nTotal > *pLength;
  *pLength = static_cast<std::uint16_t>(nTotal);
  return blTooSmall ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

bool ReportLengthFits(const HidPreparsedData& data, HIDP_REPORT_TYPE type, std::uint32_t nReportLength) {
  const std::uint16_t nLength = data.ReportByteLength(type);
  return nLength != 0 && nReportLength == nLength;
}

// The first value capability for the usage in the report `nReportId`. *pStatus says why
// there is none: no such usage at all, or only in other reports.
int FindValueCap(const HidPreparsedData::Group& g, USAGE nUsagePage, std::uint16_t nLink, USAGE nUsage,
                 std::uint8_t nReportId, NTSTATUS* pStatus) {
  bool blFound = false;
  for (std::size_t i = 0; i < g.valueCaps.size(); ++i) {
    const HIDP_VALUE_CAPS& c = g.valueCaps[i];
    if (c.UsagePage != nUsagePage || (nLink != 0 && c.LinkCollection != nLink)) continue;
    if (!UsageIn(nUsage, c.Range.UsageMin, c.Range.UsageMax)) continue;
    blFound = true;
    if (c.ReportID == nReportId) return static_cast<int>(i);
  }
  *pStatus = blFound ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
  return -1;
}

// As above for setting: a report whose id byte is still 0 takes the id of the first
// capability that has the usage.
template <typename Caps>
int FindCapForSet(const std::vector<Caps>& all, USAGE nUsagePage, std::uint16_t nLink, USAGE nUsage,
                  std::uint8_t* pReport, NTSTATUS* pStatus) {
  int nFirst = -1;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Caps& c = all[i];
    if (c.UsagePage != nUsagePage || (nLink != 0 && c.LinkCollection != nLink)) continue;
    if (!UsageIn(nUsage, c.Range.UsageMin, c.Range.UsageMax)) continue;
    if (c.ReportID == pReport[0]) return static_cast<int>(i);
    if (nFirst < 0) nFirst = static_cast<int>(i);
  }
  if (nFirst >= 0 && pReport[0] == 0) {
    pReport[0] = all[static_cast<std::size_t>(nFirst)].ReportID;
    return nFirst;
  }
  *pStatus = nFirst >= 0 ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
  return -1;
}

std::uint32_t FieldOffset(const HidFieldLayout& l, std::uint32_t nField) { return l.nBitOffset + nField * l.nBitSize; }

}  // namespace

NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection,
                                    USAGE nUsage, HIDP_BUTTON_CAPS* pCaps, std::uint16_t* pLength,
                                    const HidPreparsedData& data) {
  if (!ValidType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
  return GetSpecificCaps(data.GroupOf(type).buttonCaps, nUsagePage, nLinkCollection, nUsage, pCaps, pLength);
}

NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection,
                                   USAGE nUsage, HIDP_VALUE_CAPS* pCaps, std::uint16_t* pLength,
                                   const HidPreparsedData& data) {
  if (!ValidType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
  return GetSpecificCaps(data.GroupOf(type).valueCaps, nUsagePage, nLinkCollection, nUsage, pCaps, pLength);
}

std::uint32_t HidP_MaxUsageListLength(HIDP_REPORT_TYPE type, USAGE nUsagePage, const HidPreparsedData& data) {
  if (!ValidType(type)) return 0;
  const HidPreparsedData::Group& g = data.GroupOf(type);
  std::uint32_t nTotal = 0;
  int nLastArray = -1;
  for (std::size_t i = 0; i < g.buttonCaps.size(); ++i) {
    if (nUsagePage != 0 && g.buttonCaps[i].UsagePage != nUsagePage) continue;
    const HidFieldLayout& l = g.buttonLayout[i];
    if (l.blIsArray) {
      // All capabilities of one array share its fields: count them once.
      if (nLastArray == l.nArrayItem) continue;
      nLastArray = l.nArrayItem;
    }
    nTotal += l.nFieldCount;
  }
  return nTotal;
}

NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE* pUsageList,
                        std::uint32_t* pLength, const HidPreparsedData& data, const std::uint8_t* pReport,
                        std::uint32_t nReportLength) {
  if (!ValidType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
  if (!ReportLengthFits(data, type, nReportLength)) return HIDP_STATUS_INVALID_REPORT_LENGTH;
  const HidPreparsedData::Group& g = data.GroupOf(type);
  const std::uint8_t nReportId = pReport[0];
  const std::uint32_t nRoom = *pLength;
  std::uint32_t nCount = 0;
  bool blFound = false;
  bool blFoundInReport = false;
  auto emit = [&](USAGE nUsage) {
    if (nCount < nRoom) pUsageList[nCount] = nUsage;
    ++nCount;
  };
  for (std::size_t i = 0; i < g.buttonCaps.size(); ++i) {
    const HIDP_BUTTON_CAPS& c = g.buttonCaps[i];
    if (c.UsagePage != nUsagePage || (nLinkCollection != 0 && c.LinkCollection != nLinkCollection)) continue;
    blFound = true;
    if (c.ReportID != nReportId) continue;
    blFoundInReport = true;
    const HidFieldLayout& l = g.buttonLayout[i];
    const unsigned nBits = std::min<unsigned>(l.nBitSize, 32u);
    if (!l.blIsArray) {
      for (std::uint32_t f = 0; f < l.nFieldCount; ++f) {
        if (ReadBits(pReport, FieldOffset(l, f), nBits) == 0) continue;
        // The last usage stands for every field beyond the range.
        emit(c.IsRange ? static_cast<USAGE>(std::min<std::uint32_t>(c.Range.UsageMin + f, c.Range.UsageMax))
                       : c.NotRange.Usage);
      }
    } else {
      const std::uint32_t nUsages = std::uint32_t{c.Range.UsageMax} - c.Range.UsageMin + 1;
      for (std::uint32_t f = 0; f < l.nFieldCount; ++f) {
        const std::int64_t nValue = LogicalValue(ReadBits(pReport, FieldOffset(l, f), nBits), nBits, l.nLogicalMin);
        if (nValue < l.nLogicalMin || nValue > l.nLogicalMax) continue;
        const std::int64_t nIndex = nValue - l.nLogicalMin - l.nArrayFirst;
        if (nIndex < 0 || nIndex >= static_cast<std::int64_t>(nUsages)) continue;
        const USAGE nUsage = static_cast<USAGE>(c.Range.UsageMin + nIndex);
        if (nUsage != 0) emit(nUsage);  // usage 0 is "nothing" on every page
      }
    }
  }
  if (!blFound || !blFoundInReport) {
    *pLength = 0;
    return blFound ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
  }
  *pLength = nCount;
  return nCount > nRoom ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

namespace {

// Where one value usage sits in a report: its capability and its raw bits (at most 32).
struct ValueField {
  const HIDP_VALUE_CAPS* pCaps;
  std::uint32_t nRaw;
  unsigned nBits;
};

// The checks and the lookup both value readers share; HIDP_STATUS_SUCCESS fills `field`.
NTSTATUS LocateValueField(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE nUsage,
                          const HidPreparsedData& data, const std::uint8_t* pReport, std::uint32_t nReportLength,
                          ValueField* pField) {
  if (!ValidType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
  if (!ReportLengthFits(data, type, nReportLength)) return HIDP_STATUS_INVALID_REPORT_LENGTH;
  const HidPreparsedData::Group& g = data.GroupOf(type);
  NTSTATUS nStatus = HIDP_STATUS_SUCCESS;
  const int nCap = FindValueCap(g, nUsagePage, nLinkCollection, nUsage, pReport[0], &nStatus);
  if (nCap < 0) return nStatus;
  const HIDP_VALUE_CAPS& c = g.valueCaps[static_cast<std::size_t>(nCap)];
  const HidFieldLayout& l = g.valueLayout[static_cast<std::size_t>(nCap)];
  // A value array answers with its first field.
  const std::uint32_t nField = c.IsRange ? std::uint32_t{nUsage} - c.Range.UsageMin : 0;
  pField->pCaps = &c;
  pField->nBits = std::min<unsigned>(l.nBitSize, 32u);
  pField->nRaw = ReadBits(pReport, FieldOffset(l, nField), pField->nBits);
  return HIDP_STATUS_SUCCESS;
}

}  // namespace

NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE nUsage,
                            std::uint32_t* pValue, const HidPreparsedData& data, const std::uint8_t* pReport,
                            std::uint32_t nReportLength) {
  ValueField field{};
  const NTSTATUS nStatus =
      LocateValueField(type, nUsagePage, nLinkCollection, nUsage, data, pReport, nReportLength, &field);
  if (nStatus != HIDP_STATUS_SUCCESS) return nStatus;
  *pValue = field.nRaw;
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE nUsage,
                                  std::int32_t* pValue, const HidPreparsedData& data, const std::uint8_t* pReport,
                                  std::uint32_t nReportLength) {
  *pValue = 0;
  ValueField field{};
  const NTSTATUS nStatus =
      LocateValueField(type, nUsagePage, nLinkCollection, nUsage, data, pReport, nReportLength, &field);
  if (nStatus != HIDP_STATUS_SUCCESS) return nStatus;
  const HIDP_VALUE_CAPS& c = *field.pCaps;
  const std::int64_t nLogical = LogicalValue(field.nRaw, field.nBits, c.LogicalMin);

  const bool blNoPhysical = c.PhysicalMin == 0 && c.PhysicalMax == 0;
  if (c.LogicalMin >= c.LogicalMax || (!blNoPhysical && c.PhysicalMin >= c.PhysicalMax)) {
    return HIDP_STATUS_BAD_LOG_PHY_VALUES;
  }
  if (nLogical < c.LogicalMin || nLogical > c.LogicalMax) {
    return c.HasNull ? HIDP_STATUS_NULL : HIDP_STATUS_VALUE_OUT_OF_RANGE;
  }
  if (blNoPhysical) {
    *pValue = static_cast<std::int32_t>(nLogical);
    return HIDP_STATUS_SUCCESS;
  }
  // Wide arithmetic: a 32-bit logical span times a 32-bit physical span.
  const Int128 nScaled = Int128{c.PhysicalMin} + Int128{nLogical - c.LogicalMin} *
                                                     (Int128{c.PhysicalMax} - Int128{c.PhysicalMin}) /
                                                     (Int128{c.LogicalMax} - Int128{c.LogicalMin});
  *pValue = static_cast<std::int32_t>(static_cast<std::int64_t>(nScaled));
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE* pUsageList,
                        std::uint32_t* pLength, const HidPreparsedData& data, std::uint8_t* pReport,
                        std::uint32_t nReportLength) {
  if (!ValidType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
  if (!ReportLengthFits(data, type, nReportLength)) return HIDP_STATUS_INVALID_REPORT_LENGTH;
  const HidPreparsedData::Group& g = data.GroupOf(type);
  const std::uint32_t nGiven = *pLength;
  for (std::uint32_t k = 0; k < nGiven; ++k) {
    const USAGE nUsage = pUsageList[k];
    if (nUsage == 0) continue;
    NTSTATUS nStatus = HIDP_STATUS_SUCCESS;
    const int nCap = FindCapForSet(g.buttonCaps, nUsagePage, nLinkCollection, nUsage, pReport, &nStatus);
    if (nCap < 0) {
      *pLength = k;
      return nStatus;
    }
    const HIDP_BUTTON_CAPS& c = g.buttonCaps[static_cast<std::size_t>(nCap)];
    const HidFieldLayout& l = g.buttonLayout[static_cast<std::size_t>(nCap)];
    if (!l.blIsArray) {
      const std::uint32_t nField = c.IsRange ? std::uint32_t{nUsage} - c.Range.UsageMin : 0;
      WriteBits(pReport, FieldOffset(l, nField), l.nBitSize, 1);
      continue;
    }
    const unsigned nBits = std::min<unsigned>(l.nBitSize, 32u);
    const std::int64_t nValue = std::int64_t{l.nLogicalMin} + l.nArrayFirst + (nUsage - c.Range.UsageMin);
    const std::uint32_t nRaw = static_cast<std::uint32_t>(nValue);
    const std::uint32_t nMasked = nBits < 32 ? nRaw & ((1u << nBits) - 1) : nRaw;
    bool blPlaced = false;
    for (std::uint32_t f = 0; f < l.nFieldCount && !blPlaced; ++f) {
      blPlaced = ReadBits(pReport, FieldOffset(l, f), nBits) == nMasked;  // already down
    }
    for (std::uint32_t f = 0; f < l.nFieldCount && !blPlaced; ++f) {
      if (ReadBits(pReport, FieldOffset(l, f), nBits) == 0) {
        WriteBits(pReport, FieldOffset(l, f), l.nBitSize, nRaw);
        blPlaced = true;
      }
    }
    if (!blPlaced) {
      *pLength = k;
      return HIDP_STATUS_BUFFER_TOO_SMALL;
    }
  }
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE nUsage,
                            std::uint32_t nValue, const HidPreparsedData& data, std::uint8_t* pReport,
                            std::uint32_t nReportLength) {
  if (!ValidType(type)) return HIDP_STATUS_INVALID_REPORT_TYPE;
  if (!ReportLengthFits(data, type, nReportLength)) return HIDP_STATUS_INVALID_REPORT_LENGTH;
  const HidPreparsedData::Group& g = data.GroupOf(type);
  NTSTATUS nStatus = HIDP_STATUS_SUCCESS;
  const int nCap = FindCapForSet(g.valueCaps, nUsagePage, nLinkCollection, nUsage, pReport, &nStatus);
  if (nCap < 0) return nStatus;
  const HIDP_VALUE_CAPS& c = g.valueCaps[static_cast<std::size_t>(nCap)];
  const HidFieldLayout& l = g.valueLayout[static_cast<std::size_t>(nCap)];
  const std::uint32_t nField = c.IsRange ? std::uint32_t{nUsage} - c.Range.UsageMin : 0;
  WriteBits(pReport, FieldOffset(l, nField), l.nBitSize, nValue);
  return HIDP_STATUS_SUCCESS;
}

}  // namespace orb::platform
