#pragma once

// The working directory of a fuzz target that reads or writes files.

// On the first call, makes a fresh temporary directory, makes it the working
// directory and arranges its removal at exit; on every call, empties it. Each
// input so starts with no files, and the run leaves none behind.
void enterCleanWorkDirectory();
