#pragma once

// What the world server tells an onlooker about its worlds: presence, said
// lines and console messages, each after the server has applied it. The
// calls come from the server's one thread, inside its loop turn; an observer
// must return quickly and must not call back into the server.

#include <cstdint>
#include <string>
#include <vector>

struct ObservedAvatar {
    int session = 0;
    int citizen = 0;
    bool bot = false;
    std::string name;   // Windows-1251, as others see it ("[name]" for a bot)
    std::string world;  // Windows-1251
    int x = 0, y = 0, z = 0;
};

class WorldObserver {
  public:
    virtual ~WorldObserver() = default;
    // The avatar entered its world (at its current position).
    virtual void arrived(const ObservedAvatar& avatar) = 0;
    virtual void moved(int session, int x, int y, int z) = 0;
    // The avatar left its world (closed, dropped, or entered another world).
    virtual void left(int session) = 0;
    // A said line (not a whisper or broadcast), Windows-1251 text.
    virtual void said(int session, const std::string& text) = 0;
    // A console message that the sender's world delivered, with the sessions
    // it actually reached (never empty).
    virtual void consoleSent(int sender, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                             const std::string& text, const std::vector<int>& receivers) = 0;
};

// A service with its own descriptor that shares the server's loop: the loop
// watches fd() for reading, waits at most timeoutMs() (-1: no limit), and
// calls turn() after every pass, telling whether fd() was ready, so that
// work queued during the pass goes out in the same pass.
class LoopGuest {
  public:
    virtual ~LoopGuest() = default;
    virtual int fd() const = 0;
    virtual int timeoutMs() = 0;
    virtual void turn(bool ready) = 0;
};
