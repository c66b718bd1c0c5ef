// Paths as translated programs write them, made into Linux paths: '\' separates components,
// drive C: is the root (other drives do not exist), and a component that does not exist as
// written takes the one entry of its directory whose name differs only in case. The caller's
// text is never changed. Not here: wildcards (the directory statements).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The Linux path of name into path: file_ok, file_bad_name for a NUL byte, or
// file_device_unavailable for a drive other than C:.
int32_t file_name_fix(std::string_view name, std::string& path);

// The separator and drive mapping alone (pure): the same answers, no look at the disk.
int32_t file_name_map(std::string_view name, std::string& path);
// Replaces components that do not exist by their unique case-insensitive match, as far as one
// exists; the rest of the path stays as written.
void file_name_match_case(std::string& path);
