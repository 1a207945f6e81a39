#pragma once

// Tells the operator, on standard error, when a file the bot keeps cannot be
// written: once when the trouble starts, and once more when writing works
// again. Standard output and the files themselves stay as they are; a failed
// write still loses only what it could not write.

#include <string>

// Records that writing `file` succeeded; announces the recovery when the last
// attempt had failed.
void noteFileWritten(const std::string& file);
// Records that writing `file` failed with the given errno value; announces it
// unless the failure is already known.
void noteFileWriteFailed(const std::string& file, int error);

// Forgets every known failure, as at the start of a run.
void resetFileProblems();
