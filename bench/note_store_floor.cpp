// The least any exporter of Notes' database must do, timed beside the tool: read every note's
// stored data with SQLite, gunzip it, write an output file of a given size, fsync it and rename
// it over the earlier one.
//   sheafwright_note_store_floor DATABASE OUTPUT BYTES
#include "bench/floor_output.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// Unpacks one gzip member into `out` (kept from note to note); the unpacked size, or -1.
long gunzip(const void* data, int size, std::vector<unsigned char>& out) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
    return -1;
  }
  stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  stream.avail_in = static_cast<uInt>(size);
  long total = 0;
  int status = Z_OK;
  while (status == Z_OK) {
    if (out.size() < static_cast<std::size_t>(total) + 65536) {
      out.resize(static_cast<std::size_t>(total) + 65536 + out.size());
    }
    stream.next_out = out.data() + total;
    stream.avail_out = static_cast<uInt>(out.size() - static_cast<std::size_t>(total));
    status = inflate(&stream, Z_NO_FLUSH);
    total = static_cast<long>(stream.total_out);
  }
  inflateEnd(&stream);
  return status == Z_STREAM_END ? total : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s DATABASE OUTPUT BYTES\n", argv[0]);
    return 2;
  }
  sqlite3* db = nullptr;
  sqlite3_stmt* query = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, "SELECT ZDATA FROM ZICNOTEDATA", -1, &query, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "cannot read %s: %s\n", argv[1], sqlite3_errmsg(db));
    return 1;
  }
  std::vector<unsigned char> unpacked;
  long long text = 0;
  while (sqlite3_step(query) == SQLITE_ROW) {
    const long size =
        gunzip(sqlite3_column_blob(query, 0), sqlite3_column_bytes(query, 0), unpacked);
    if (size < 0) {
      std::fprintf(stderr, "a note's data is no gzip\n");
      return 1;
    }
    text += size;
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  if (text == 0) {
    std::fprintf(stderr, "no notes\n");
    return 1;
  }

  return sheafwright::bench::writeFloorOutput(argv[2], std::strtoull(argv[3], nullptr, 10));
}
