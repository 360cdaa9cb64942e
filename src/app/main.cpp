// sarvek: carves table rows out of an SQLite 3 database file.
#include <unistd.h>

#include "batch/batch_run.h"
#include "image/image.h"
#include "deep/deep_run.h"
#include "shared/progress.h"
#include "image/page_walker.h"
#include "output/flush.h"
#include "recognition/row_record.h"
#include "setup/command_line.h"

namespace {

// The byte scan: every page of the image searched for rows.
int byte_scan_main(const run_options& options) {
  globals g;
  globals_init(&g, options);
  int fd = -1;
  if (image_map_file(&g, &fd) != 0) return 1;
  if (image_read_header(&g) != 0) return 1;
  image_warn_unread_logs(&g);
  progress_meter meter;
  progress_begin(&g.out, &meter, g.opt.debug != 0, g.db_size, g.page_size, g.walk.page_number);
  walk_pages(&g);
  progress_end(&g.out);
  flush_stdout(&g);
  close(fd);
  globals_release(&g);  // keeps leak checkers of sanitized builds quiet
  // 2: the rows are complete, but some blob files could not be written.
  return g.out.blob_failures != 0 ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  run_options options;
  run_options_init(&options);
  parse_parameters(argc, argv, &options);
  if (options.merge) return merge_main(&options);
  if (options.deep && input_is_folder(options)) return batch_main(&options);
  if (!check_single_file_options(options)) return 1;
  if (options.deep) {
    run_output out{};
    return deep_main(options, &out, argc, argv);
  }
  return byte_scan_main(options);
}
