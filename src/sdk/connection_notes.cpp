#include "sdk/connection_notes.h"

ConnectionNotesState ConnectionNotes;

namespace {

AccountRefusalNotice installedNotice = nullptr;

}  // namespace

void resetConnectionNotes() {
    ConnectionNotes = ConnectionNotesState{};
    installedNotice = nullptr;
}

void setAccountRefusalNotice(AccountRefusalNotice notice) {
    installedNotice = notice;
}

AccountRefusalNotice accountRefusalNotice() {
    return installedNotice;
}
