// Statements that work on names rather than open files: KILL with wildcards, NAME (rename),
// CHDIR, MKDIR, RMDIR, the existence tests and FILES, the directory listing in the 8.3 column
// layout. Wildcards follow the old rules, matched here (case-insensitively; '*' any run, '?' one
// byte, "*.*" also names without a dot, "*." only those), entries in sorted order. Rename never
// replaces an existing file. Not here: path mapping (path_names.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct string_descriptor;

void file_kill(string_descriptor* pattern);
void file_rename(string_descriptor* old_path, string_descriptor* new_path);
void dir_change(string_descriptor* path);
void dir_make(string_descriptor* path);
void dir_remove(string_descriptor* path);
void file_list(string_descriptor* pattern, int32_t pattern_given);
int32_t file_exists(string_descriptor* path);
int32_t dir_exists(string_descriptor* path);

// Pure pieces: the wildcard match and the listing's 18-column cell of one entry.
bool wildcard_match(std::string_view pattern, std::string_view name);
std::string listing_cell(std::string_view name, bool directory);
