// Chaining to another program: the chaining side writes a chain file (the target's directory and
// the screen-state stream) and starts the target with a tag and the file's name at the end of its
// command line, then stops; the receiving side, in every program's prologue, reads the file back,
// rebuilds the screen, deletes the file, changes to the directory and strips the tag. On Linux the
// file is moved by rename (copy and delete across file systems) and programs start by posix_spawn
// with an argument vector; no shell is involved. Program thread only.
// Not here: the stream itself (screen_state.h), running a program without a hand-over (lifecycle.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct string_descriptor;

// Starts the target (a program name with the extension bas or exe, or none, with optional
// directory and arguments); does not return when it was started, else raises error 53.
void chain_start(string_descriptor* target);
// Start of a translated program's main routine: takes over a chain file that its command line names.
void chain_receive();

// The names of a target (pure): exe is the program with its arguments, bas the source, dir the
// directory part of the target (empty when it names none), with '/' as separator throughout. The
// extension is looked for in the name's last path component only.
struct chain_names {
    std::string exe, bas, dir;
};
chain_names chain_names_of(std::string_view target);

constexpr std::string_view chain_tag = "(unique-tag:=/@*$+-)";
constexpr size_t chain_file_name_length = 12;  // "chain" + three digits + ".tmp"
constexpr int32_t chain_number_first = 100;
constexpr int32_t chain_number_last = 999;
constexpr int32_t chain_file_marker = 512;
// The directory text a receiver accepts: at most this many bytes.
constexpr int32_t chain_directory_max = 4095;

// The chain number of a time of day in seconds: its thousandths scaled to 999, at least 100.
int32_t chain_number_of(double seconds);
std::string chain_file_name(int32_t number);
// A command line that ends with the tag and a chain file's name: that name, else empty.
std::string chain_tag_file_of(std::string_view command_line);
