// Test support: NoteStore.sqlite files of each known layout, written from rows given here, the
// way Notes' Core Data store lays them out. Knows nothing of the tool's reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sheafwright::notestore {

// The layouts, by the release that brought them (macOS / iOS).
enum class NoteStoreLayout {
  kMacOS10_13,  // iOS 11: notes reach folders through a join table; not readable
  kMacOS10_14,  // iOS 12: note account in ZACCOUNT2, creation date ZCREATIONDATE1
  kMacOS10_15,  // iOS 13: ZACCOUNT3 / ZACCOUNT4
  kMacOS11,     // iOS 14: ZLASTOPENEDDATE
  kMacOS12,     // iOS 15: creation date ZCREATIONDATE3, account ZACCOUNT4, ZACCOUNT5
  kMacOS13,     // iOS 16 and later: ZACCOUNT6 to ZACCOUNT8, account ZACCOUNT7
};
// The layouts the tool reads.
inline constexpr NoteStoreLayout kReadableLayouts[] = {
    NoteStoreLayout::kMacOS10_14, NoteStoreLayout::kMacOS10_15, NoteStoreLayout::kMacOS11,
    NoteStoreLayout::kMacOS12, NoteStoreLayout::kMacOS13};
const char* layoutName(NoteStoreLayout layout);

struct TestFolder {
  std::optional<std::string> title{};   // ZTITLE2
  std::optional<std::int64_t> type;     // ZFOLDERTYPE: 0 folder, 1 trash, 2 and 3 smart
  std::string identifier;               // ZIDENTIFIER ("DefaultFolder-CloudKit", "TrashFolder-…")
  std::optional<std::size_t> parent{};  // index of the parent folder
  bool markedForDeletion = false;
};

struct TestNote {
  std::size_t folder = 0;  // index into the folders
  std::optional<std::string> title;
  double created = 0;   // Core Data seconds since 2001-01-01 UTC
  double modified = 0;  // NaN: none recorded
  bool passwordProtected = false;
  bool markedForDeletion = false;
  // ZICNOTEDATA.ZDATA; none: the note has no data row.
  std::optional<std::string> data{};
};

struct TestNoteStore {
  NoteStoreLayout layout = NoteStoreLayout::kMacOS13;
  std::vector<TestFolder> folders;
  std::vector<TestNote> notes;
  // Leave the last rows in the write-ahead log (-wal beside the file), as a running Notes does.
  bool inLog = false;
};

// Writes the store to `path` (replacing it). Throws std::runtime_error.
void writeNoteStore(const std::string& path, const TestNoteStore& store);

// Core Data seconds for Unix seconds.
inline double coreDataSeconds(double unixSeconds) {
  return unixSeconds - 978307200.0;
}

}  // namespace sheafwright::notestore
