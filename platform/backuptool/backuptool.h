// The backup tool's command-line entry, run as Debian's `idevicebackup2` in a child process
// with the given arguments (argv[0] is ignored; no shell is involved).
#pragma once

// Runs the tool and returns its exit code; -1 when it could not be started, was killed by a
// signal or ran past the time limit. The tool is "idevicebackup2" from PATH unless replaced.
extern "C" int main_(void* reserved, int argc, char** argv);

// Replaces the tool (the program's --backup-tool option, tests); null or empty restores
// "idevicebackup2".
void backuptool_set_program(const char* program);

// The time limit in milliseconds for one run (default 10 minutes).
void backuptool_set_timeout_ms(int ms);
