#pragma once
// The vocabulary of the HID parser: report types, status codes and the capability records.
// The device layer's decoding rules were written against these records, so they keep the
// names, the meanings and the status values the Windows HID parser gives them. Fields that
// Windows keeps in a union (Range / NotRange) are both filled here, the way the union's
// storage would read: a single usage shows as a range of one.

#include <cstdint>

namespace orb::platform {

using USAGE = std::uint16_t;
using NTSTATUS = std::uint32_t;

enum HIDP_REPORT_TYPE : int { HidP_Input = 0, HidP_Output = 1, HidP_Feature = 2 };
inline constexpr int kHidReportTypes = 3;

inline constexpr NTSTATUS HIDP_STATUS_SUCCESS = 0x00110000u;
inline constexpr NTSTATUS HIDP_STATUS_NULL = 0x80110001u;
inline constexpr NTSTATUS HIDP_STATUS_INVALID_PREPARSED_DATA = 0xC0110001u;
inline constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_TYPE = 0xC0110002u;
inline constexpr NTSTATUS HIDP_STATUS_INVALID_REPORT_LENGTH = 0xC0110003u;
inline constexpr NTSTATUS HIDP_STATUS_USAGE_NOT_FOUND = 0xC0110004u;
inline constexpr NTSTATUS HIDP_STATUS_VALUE_OUT_OF_RANGE = 0xC0110005u;
inline constexpr NTSTATUS HIDP_STATUS_BAD_LOG_PHY_VALUES = 0xC0110006u;
inline constexpr NTSTATUS HIDP_STATUS_BUFFER_TOO_SMALL = 0xC0110007u;
inline constexpr NTSTATUS HIDP_STATUS_INCOMPATIBLE_REPORT_ID = 0xC011000Au;

// The symbolic name of a status ("HIDP_STATUS_NULL"), or "HIDP_STATUS_0x..." for others.
const char* HidStatusName(NTSTATUS nStatus);

inline constexpr USAGE HID_USAGE_PAGE_GENERIC = 0x01;
inline constexpr USAGE HID_USAGE_PAGE_BUTTON = 0x09;
inline constexpr USAGE HID_USAGE_GENERIC_WHEEL = 0x38;

struct HIDP_CAPS {
  USAGE Usage;
  USAGE UsagePage;
  std::uint16_t InputReportByteLength;
  std::uint16_t OutputReportByteLength;
  std::uint16_t FeatureReportByteLength;
  std::uint16_t NumberLinkCollectionNodes;
  std::uint16_t NumberInputButtonCaps;
  std::uint16_t NumberInputValueCaps;
  std::uint16_t NumberInputDataIndices;
  std::uint16_t NumberOutputButtonCaps;
  std::uint16_t NumberOutputValueCaps;
  std::uint16_t NumberOutputDataIndices;
  std::uint16_t NumberFeatureButtonCaps;
  std::uint16_t NumberFeatureValueCaps;
  std::uint16_t NumberFeatureDataIndices;
};

struct HidCapsRange {
  USAGE UsageMin;
  USAGE UsageMax;
  std::uint16_t StringMin;
  std::uint16_t StringMax;
  std::uint16_t DesignatorMin;
  std::uint16_t DesignatorMax;
  std::uint16_t DataIndexMin;
  std::uint16_t DataIndexMax;
};

struct HidCapsNotRange {
  USAGE Usage;
  std::uint16_t StringIndex;
  std::uint16_t DesignatorIndex;
  std::uint16_t DataIndex;
};

struct HIDP_BUTTON_CAPS {
  USAGE UsagePage;
  std::uint8_t ReportID;
  bool IsAlias;
  std::uint16_t BitField;
  std::uint16_t LinkCollection;
  USAGE LinkUsage;
  USAGE LinkUsagePage;
  bool IsRange;
  bool IsStringRange;
  bool IsDesignatorRange;
  bool IsAbsolute;
  std::uint16_t ReportCount;
  HidCapsRange Range;
  HidCapsNotRange NotRange;
};

struct HIDP_VALUE_CAPS {
  USAGE UsagePage;
  std::uint8_t ReportID;
  bool IsAlias;
  std::uint16_t BitField;
  std::uint16_t LinkCollection;
  USAGE LinkUsage;
  USAGE LinkUsagePage;
  bool IsRange;
  bool IsStringRange;
  bool IsDesignatorRange;
  bool IsAbsolute;
  bool HasNull;
  std::uint16_t BitSize;
  std::uint16_t ReportCount;
  std::uint32_t UnitsExp;
  std::uint32_t Units;
  std::int32_t LogicalMin;
  std::int32_t LogicalMax;
  std::int32_t PhysicalMin;
  std::int32_t PhysicalMax;
  HidCapsRange Range;
  HidCapsNotRange NotRange;
};

struct HIDD_ATTRIBUTES {
  std::uint32_t Size;
  std::uint16_t VendorID;
  std::uint16_t ProductID;
  std::uint16_t VersionNumber;
};

}  // namespace orb::platform
