#pragma once

// What an errno value from a failed write means, where the systems differ.

// True when the error says the disk (or the user's quota on it) is full.
bool meansDiskFull(int error);
