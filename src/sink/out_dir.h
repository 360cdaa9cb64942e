// The folder of --out-dir=DIR: created new (mode 0700), or an existing
// empty folder; files in it are created exclusively (never over a file,
// never through a symbolic link), mode 0600, under names made safe
// (safe_names.h).
#pragma once
#include <string>
#include <string_view>

#include "sink/safe_names.h"

class out_dir {
 public:
  // Creates or opens the folder; on failure writes one "ERROR: " line and
  // returns false.
  bool open(const std::string& path);
  ~out_dir();
  // Removes the folder when this run created it and it is still empty (the
  // run was refused before it wrote anything).
  void discard_if_empty();
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Reserves a name so that no file takes it.
  void reserve(std::string_view stem) { names_.claim(stem); }
  // Creates STEM.EXT (STEM_2.EXT, ... when taken) for writing; returns the
  // descriptor (-1 with errno set on failure) and the name in *name.
  int create(std::string_view stem, std::string_view ext, std::string* name);

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
  unique_names names_{64};
};

// Creates a file in the folder `dir_fd` (AT_FDCWD: the working folder) as
// out_dir::create does, the names tracked in *names.
int create_unique_file(int dir_fd, unique_names* names, std::string_view stem, std::string_view ext,
                       std::string* name);
