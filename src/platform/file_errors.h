#pragma once

// What an errno value from a failed write means, where the systems differ.

// True when the error says the disk (or the user's quota on it) is full.
bool meansDiskFull(int error);

// The errno value of the C library's file call that just failed (opening or
// writing a stream), with a file that another program holds open given as
// EBUSY where the system tells that apart from a refused permission (Windows
// says "access denied" for both in errno).
int lastFileError();
