// libFuzzer target: the fuzz input is a database image, preceded by three
// option bytes that choose the run's settings, and, when they say so, a
// write-ahead log or rollback journal after it. Each file is copied into a
// heap buffer of exactly its size, so that AddressSanitizer reports even a
// read one byte past its end (a file mapping would hide it behind the rest
// of its last memory page). The stages run as main runs them, without the
// command line, whose error paths end the process.
//
// The option bytes are described in fuzz_options.h.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_options.h"
#include "deep/deep_run.h"
#include "image/image.h"
#include "image/page_walker.h"
#include "setup/globals.h"

namespace {

std::string scratch;

void remove_scratch() {
  std::error_code ec;
  if (!scratch.empty()) std::filesystem::remove_all(scratch, ec);
}

// Once per process: rows go to /dev/null, blob files into a scratch folder.
void set_up_once() {
  static bool done = false;
  if (done) return;
  done = true;
  if (!freopen("/dev/null", "w", stdout)) abort();
  std::string templ = (std::filesystem::temp_directory_path() / "sarvek-fuzz-XXXXXX").string();
  if (!mkdtemp(templ.data()) || chdir(templ.c_str()) != 0) abort();
  scratch = templ;
  atexit(remove_scratch);
}

// A heap copy of exactly `size` bytes (at least one byte is allocated).
uint8_t* exact_copy(const uint8_t* data, uint64_t size) {
  uint8_t* copy = static_cast<uint8_t*>(malloc(size ? size : 1));
  if (size) memcpy(copy, data, size);
  return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  set_up_once();
  if (size <= fuzz_option_bytes) return 0;
  const fuzz_files files = fuzz_split(data, size);
  uint8_t* image = exact_copy(data + files.db_at, files.db_size);
  uint8_t* log = files.log ? exact_copy(data + files.log_at, files.log_size) : nullptr;

  run_options options;
  run_options_init(&options);
  options.input_file = "fuzz-input";
  fuzz_apply(fuzz_decode_options(data, files.db_size), &options);
  if (options.deep) {
    char program[] = "sarvek";
    char* argv[] = {program, nullptr};
    log_images logs;
    if (log) (files.journal ? logs.journal : logs.wal) = byte_view(log, files.log_size);
    run_output out{};
    deep_run_image(options, &out, byte_view(image, files.db_size), 1, argv, logs);
  } else {
    globals g;
    globals_init(&g, options);
    image_attach(&g, image, files.db_size);
    if (image_read_header(&g) == 0) walk_pages(&g);
    globals_release(&g);
  }
  fflush(stdout);
  free(log);
  free(image);
  return 0;
}
