// English string table. Ids and their order are shared with the Japanese table.
#include "base/string_table_data.h"

namespace orb::strings {
namespace {

constexpr StringEntry kEnglish[] = {
    // companion editors, looked for among the running processes
    {8, "ZUDADOR.EXE"},
    {9, "MAPEDIT.EXE"},
    // command-line switch of a start from the session's autostart
    {10, "/S"},
    {101, "&About this program..."},
    {102, "SpinPad TK-4"},
    // the data file, the shared table block and the editor-link message are all named this
    {105, "ORB.DAT"},
    // tray tooltip parts for the device modes
    {108, "DECK"},
    {109, "FILE"},
    {110, "JOG"},
    {111, "SHUTTLE"},
    // pause after a key stroke, formatted with a double in seconds
    {139, "(%4.1lf sec.)"},
    {140, "can I set to default? (Y/N)"},
    {900, "Program is already running"},
    {1038, "SpinPad TK-4 Version"},
    // control descriptions, also the tooltips of the controller picture
    {1100, "Programable button 1"},
    {1101, "Programable button 2"},
    {1102, "Programable button 3"},
    {1103, "Programable button 4"},
    {1104, "Programable button 5"},
    {1105, "DECK/FILE Selector"},
    {1106, "Rewind/Move to pre-edit point"},
    {1107, "Fast-forward/Move to next-edit point"},
    {1108, "Capture/Undo"},
    {1109, "Play/Pause"},
    {1110, "Set IN point"},
    {1111, "Set OUT point"},
    {1112, "Add to list/Divide clip"},
    {1113, "JOG/SHUTTLE Selector"},
    {1114, "JOG/SHUTTLE Wheel"},
    // key names
    {2000, "BackSpace"},
    {2001, "Tab"},
    {2002, "Clear"},
    {2003, "Enter"},
    {2004, "Shift"},
    {2005, "Ctrl"},
    {2006, "Alt"},
    {2007, "Pause"},
    {2008, "CapsLock"},
    {2009, "Esc"},
    {2010, "Space"},
    {2011, "PageUp"},
    {2012, "PageDown"},
    {2013, "End"},
    {2014, "Home"},
    {2015, "Left cursor"},
    {2016, "Up cursor"},
    {2017, "Right cursor"},
    {2018, "Down cursor"},
    {2019, "Select"},
    {2020, "Execute"},
    {2021, "PrintScreen"},
    {2022, "Insert"},
    {2023, "Delete"},
    {2024, "Help"},
    {2025, "*"},
    {2026, "+"},
    {2027, "\\"},
    {2028, "-"},
    {2029, "."},
    {2030, "/"},
    {2031, "Windows key"},
    {2032, "Context key"},
    // tray menu items, numbered by their command ids
    {32771, "&Show Window..."},
    {32772, "&About this program..."},
    {32773, "E&xit"},
    {32774, "Set to &default"},
    {32775, "S&tay when the system begins"},
    // validation messages of the time-interval field
    {61713, "Please enter a number."},
    {61715, "Please enter a number between %1 and %2."},
};
static_assert(IsStrictlyAscending(kEnglish));

}  // namespace

std::span<const StringEntry> EnglishTable() { return kEnglish; }

}  // namespace orb::strings
