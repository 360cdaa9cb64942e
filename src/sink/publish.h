// Files written under a partial name and given their own name only once
// complete (the export, the workbook).
#pragma once
#include <string>

// Refuses an existing path (a symbolic link included) and creates the
// partial file PATH.partial-XXXXXX beside it, exclusively, mode 0600; its
// name in *partial. False with errno's text in *error.
bool create_partial(const std::string& path, std::string* partial, std::string* error);

// Renames the partial file to path, never over a file that took the name
// meanwhile. False with errno's text in *error.
bool publish_file(const std::string& partial, const std::string& path, std::string* error);
