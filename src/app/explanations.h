#pragma once

// The operator's explanations: after each start-up line that carries a reason
// code, one Russian line on standard error says in words what failed and what
// it concerns (the address and port from address.txt, the account from
// account.txt, the world and coordinates from home.txt). Standard output keeps
// its own lines exactly.

void explainInitialisationFailure(int reason);
void explainInstanceFailure(int reason);
// A login refused for its account: the citizen number and account.txt.
void explainRefusedLogin(int reason);
// A login that failed on the way to the world and will be tried again.
void explainLoginRetry(int reason);
void explainWorldEntryFailure(int reason);
// The fallback world "welcome" could not be entered either: the bot stands in
// no world, and the operator is told what to mend.
void explainFallbackWorldFailure(int reason);
void explainPlacementFailure(int reason);
// A placement that failed because the bot is in no world.
void explainPlacementOutsideEveryWorld(int reason);
// Coordinates that do not read: what was given and what the form is.
void explainMalformedCoordinates();
// A reconnection refused for the account after the bot was in the world
// (the password changed, the citizen removed): in full the first time, what
// it means and what to do; then a short reminder with the count.
void explainRefusedReconnection(int reason, bool first, int attempts);
