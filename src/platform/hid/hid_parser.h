#pragma once
// Our own HID report-descriptor parser. Linux hands over the raw descriptor; the decoding
// rules of the device layer were written against the operations of the Windows HID parser,
// so this parser gives, from a descriptor, what those operations give there:
//
// - Report byte lengths always count the report-id byte, also when the device numbers no
//   reports (that byte is then 0): the largest report of the type plus one, or 0 when the
//   type has no report at all.
// - A main item produces one capability per usage entry (a single usage or a range), in
//   the reverse order of declaration (declared X, Y are listed Y, X); data indices are
//   handed out in that listed order, per report type, buttons and values from one counter.
//   Array items are the exception: their data indices follow the order of declaration
//   (declared 0x82, 0x81, 0x83 are listed 0x83, 0x81, 0x82 with data indices 2, 1, 0).
// - Fields are assigned to the usages in declaration order; the last usage takes every
//   field left over. A usage that gets no field (report count too small) gets no
//   capability; a main item without any usage is padding.
// - A field is a button when the item is an array or its report size is 1; every other
//   field is a value. Constant variable items with usages still have capabilities; a
//   constant array has none and takes no data index, though its bits stay in the report.
// - Array items: the field holds the index of a usage among the item's usages, counted
//   from the logical minimum; a field outside the logical range means "no usage".
// - Logical and physical extents are signed (an 8-bit 0xFF is -1); a physical range of
//   0..0 means "none" and the scaled value is then the logical value.
//
// The parse result is built once; the HidP_* operations below never allocate.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/hid/hid_types.h"

namespace orb::platform {

// Where the fields of one capability sit in its report.
struct HidFieldLayout {
  std::uint32_t nBitOffset;   // first field, counted from bit 0 of byte 0 (the report id)
  std::uint16_t nBitSize;     // per field
  std::uint16_t nFieldCount;  // fields that belong to this capability
  bool blIsArray;
  std::uint16_t nArrayItem;   // arrays: index of the main item (groups its capabilities)
  std::uint16_t nArrayFirst;  // arrays: index of this capability's first usage in the item
  std::int32_t nLogicalMin;   // arrays and buttons need the logical range too
  std::int32_t nLogicalMax;
};

// One top-level collection's parse result (what Windows calls the preparsed data).
class HidPreparsedData {
 public:
  HidPreparsedData() = default;

  const HIDP_CAPS& Caps() const { return m_caps; }
  bool UsesReportIds() const { return m_blUsesReportIds; }
  std::uint16_t ReportByteLength(HIDP_REPORT_TYPE type) const;

  // Internal tables, for the operations and for tests.
  struct Group {
    std::vector<HIDP_BUTTON_CAPS> buttonCaps;
    std::vector<HidFieldLayout> buttonLayout;
    std::vector<HIDP_VALUE_CAPS> valueCaps;
    std::vector<HidFieldLayout> valueLayout;
  };
  const Group& GroupOf(HIDP_REPORT_TYPE type) const { return m_groups[type]; }

 private:
  friend class HidDescriptorParser;
  HIDP_CAPS m_caps{};
  bool m_blUsesReportIds = false;
  Group m_groups[kHidReportTypes];
};

// Largest report (including its id byte) that hidraw hands to a reader; a descriptor that
// declares a longer one is refused.
inline constexpr std::size_t kHidMaxReportBytes = 16384;
// Largest descriptor the kernel reads from a device.
inline constexpr std::size_t kHidMaxDescriptorBytes = 4096;

// Parses a whole descriptor into one result per top-level collection, in order. A
// descriptor we cannot use is refused: false, and `*pError` names what is wrong.
bool ParseReportDescriptor(const std::uint8_t* pDescriptor, std::size_t nSize,
                           std::vector<HidPreparsedData>* pCollections, std::string* pError);

// The operations, with the Windows parameter order and status codes. A LinkCollection of 0
// means every collection. Report lengths must equal the type's byte length.
NTSTATUS HidP_GetCaps(const HidPreparsedData& data, HIDP_CAPS* pCaps);
NTSTATUS HidP_GetSpecificButtonCaps(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection,
                                    USAGE nUsage, HIDP_BUTTON_CAPS* pCaps, std::uint16_t* pLength,
                                    const HidPreparsedData& data);
NTSTATUS HidP_GetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection,
                                   USAGE nUsage, HIDP_VALUE_CAPS* pCaps, std::uint16_t* pLength,
                                   const HidPreparsedData& data);
// Most usages HidP_GetUsages can return for the type (and page, 0 = all pages).
std::uint32_t HidP_MaxUsageListLength(HIDP_REPORT_TYPE type, USAGE nUsagePage, const HidPreparsedData& data);
// The usages that are down. *pLength: in, the list's room; out, how many are down (also
// when the list was too small: HIDP_STATUS_BUFFER_TOO_SMALL, the list holds the first ones).
NTSTATUS HidP_GetUsages(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE* pUsageList,
                        std::uint32_t* pLength, const HidPreparsedData& data, const std::uint8_t* pReport,
                        std::uint32_t nReportLength);
// The raw bits of a value, neither sign-extended nor scaled.
NTSTATUS HidP_GetUsageValue(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE nUsage,
                            std::uint32_t* pValue, const HidPreparsedData& data, const std::uint8_t* pReport,
                            std::uint32_t nReportLength);
// Signed and scaled to the physical range. On any failure *pValue is 0.
NTSTATUS HidP_GetScaledUsageValue(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE nUsage,
                                  std::int32_t* pValue, const HidPreparsedData& data, const std::uint8_t* pReport,
                                  std::uint32_t nReportLength);
// Sets usages (buttons) in a report. A zeroed report takes the report id of the first
// usage set; afterwards only usages of that report fit. Usage 0 entries end nothing and
// are skipped (lists are zero-padded). On failure *pLength is the index of the usage that
// failed.
NTSTATUS HidP_SetUsages(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE* pUsageList,
                        std::uint32_t* pLength, const HidPreparsedData& data, std::uint8_t* pReport,
                        std::uint32_t nReportLength);
NTSTATUS HidP_SetUsageValue(HIDP_REPORT_TYPE type, USAGE nUsagePage, std::uint16_t nLinkCollection, USAGE nUsage,
                            std::uint32_t nValue, const HidPreparsedData& data, std::uint8_t* pReport,
                            std::uint32_t nReportLength);

}  // namespace orb::platform
