// sarvek: carves table rows out of an SQLite 3 database file.
#include <unistd.h>

#include "batch/batch_run.h"
#include "image/image.h"
#include "deep/deep_run.h"
#include "diagnostics/progress.h"
#include "image/page_walker.h"
#include "output/flush.h"
#include "recognition/row_record.h"
#include "setup/command_line.h"

int main(int argc, char** argv) {
  globals g;
  globals_init(&g);
  parse_parameters(argc, argv, &g);
  if (g.merge) return merge_main(&g);
  if (g.deep && input_is_folder(g)) return batch_main(&g);
  if (!check_single_file_options(g)) return 1;
  if (g.deep) {
    const int status = deep_main(&g, argc, argv);
    globals_release(&g);
    return status;
  }
  int fd = -1;
  if (image_map_file(&g, &fd) != 0) return 1;
  if (image_read_header(&g) != 0) return 1;
  image_warn_unread_logs(&g);
  progress_meter meter;
  progress_begin(&g, &meter);
  walk_pages(&g);
  progress_end(&g);
  flush_stdout(&g);
  close(fd);
  globals_release(&g);  // keeps leak checkers of sanitized builds quiet
  // 2: the rows are complete, but some blob files could not be written.
  return g.blob_failures != 0 ? 2 : 0;
}
