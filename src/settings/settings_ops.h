#pragma once

// The six load and save operations of the main window's settings. The window's members of
// the same names call them: the loads while the window initialises, the saves when it is
// closed. None of them reports anything; a store that cannot be read leaves the defaults in
// effect, and one that cannot be written simply keeps what it had.

#include "registry_store.h"

#include <cstdint>
#include <vector>

namespace hl {

// The program key, which holds the two binary values (the trailing backslash is part of the
// name as the program has always passed it; the store ignores it when matching).
inline constexpr char kProgramKey[] = "Software\\Veltrosyn\\Ivrak\\Hoplantern\\";
inline constexpr char kWindowPositionValue[] = "Window position";
inline constexpr char kColumnOrderValue[] = "Column order";

// The profile section of the three trace parameters, its entries and their defaults.
inline constexpr char kOptionsSection[] = "Options";
inline constexpr char kRetriesEntry[] = "Retries";
inline constexpr char kHopNumberEntry[] = "Hop number";
inline constexpr char kTimeoutEntry[] = "Timeout";
inline constexpr int kDefaultTries = 3;
inline constexpr int kDefaultHops = 16;
inline constexpr int kDefaultTimeout = 3000;
// Beside them: the address family (0 for the host name's own, 4 or 6) and whether every
// probe keeps one flow (0 or 1). A settings file from before they existed lacks both.
inline constexpr char kAddressFamilyEntry[] = "Address family";
inline constexpr char kFixedFlowEntry[] = "Fixed flow";
inline constexpr int kDefaultAddressFamily = 0;
inline constexpr bool kDefaultFixedFlow = false;
// Whether Trace starts a watch (0 or 1), beside them.
inline constexpr char kWatchEntry[] = "Watch";
inline constexpr bool kDefaultWatch = false;

// The window's outer rectangle in screen pixels; stored as 16 bytes, little-endian.
struct WindowRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// The column order holds ten entries, of which the first five are the display order of the
// results list's columns; stored as 40 bytes, little-endian.
inline constexpr int kColumnOrderEntries = 10;
inline constexpr int kColumnCount = 5;

// Each value is read separately (Retries, Hop number, Timeout) and falls back to its default.
void LoadOptions(RegistryStore& store, int& nTries, int& nHops, int& nTimeout);
bool SaveOptions(RegistryStore& store, int nTries, int nHops, int nTimeout);

// The family and the one-flow choice, read and written with the options. A stored family
// other than 0, 4 or 6 reads as 0; any stored flow value but 0 reads as on.
void LoadTraceChoices(RegistryStore& store, int& nFamily, bool& bFixedFlow);
bool SaveTraceChoices(RegistryStore& store, int nFamily, bool bFixedFlow);

// The watch choice, read and written with the options; any stored value but 0 reads as on.
bool LoadWatchChoice(RegistryStore& store);
bool SaveWatchChoice(RegistryStore& store, bool bWatch);

// The height of the watch's hop chart below the list, in pixels (0: never set).
inline constexpr char kChartHeightEntry[] = "Chart height";
int LoadChartHeight(RegistryStore& store);
bool SaveChartHeight(RegistryStore& store, int height);

// rect holds the window's current rectangle, which serves as the default.
void LoadWindowPosition(RegistryStore& store, WindowRect& rect);
bool SaveWindowPosition(RegistryStore& store, const WindowRect& rect);

// order holds the list's current order, which serves as the default.
void LoadColumnOrder(RegistryStore& store, int (&order)[kColumnOrderEntries]);
bool SaveColumnOrder(RegistryStore& store, const int (&order)[kColumnOrderEntries]);

// The watch table's columns after the five, in the model's order: each one's place among
// them (0 leftmost), its width in pixels and whether it is hidden. Stored under the program
// key as 12 bytes a column, little-endian. A value that is not such a list (a length not a
// multiple of 12, places that are not each given once, a width outside 0 to 10000) reads
// as none, and the list then shows its defaults.
inline constexpr char kWatchColumnsValue[] = "Watch columns";
struct WatchColumn {
    std::int32_t place = 0;
    std::int32_t width = 0;
    bool hidden = false;
    bool operator==(const WatchColumn&) const = default;
};
std::vector<WatchColumn> LoadWatchColumns(RegistryStore& store);
bool SaveWatchColumns(RegistryStore& store, const std::vector<WatchColumn>& columns);

// Whether the first five entries are a permutation of 0 to 4. A stored order that is not
// would give the list duplicate or missing columns; the window keeps its default order then.
bool IsColumnPermutation(const int (&order)[kColumnOrderEntries]);

} // namespace hl
