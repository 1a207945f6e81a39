#pragma once

// What the world server's tests send and read, each in one call: the
// requests of a client and the texts of what came back.

#include <string>
#include <vector>

#include "protocol/wire_message.h"

inline wire::Message ofType(wire::MessageType type) {
    wire::Message m;
    m.type = type;
    return m;
}

inline wire::Message say(const std::string& text) {
    wire::Message m = ofType(wire::MessageType::Say);
    m.text = text;
    return m;
}

inline wire::Message enter(const std::string& world) {
    wire::Message m = ofType(wire::MessageType::Enter);
    m.name = world;
    return m;
}

inline wire::Message state(int x, int y = 0, int z = 0) {
    wire::Message m = ofType(wire::MessageType::State);
    m.x = x;
    m.y = y;
    m.z = z;
    return m;
}

inline wire::Message login(int citizen, const std::string& password, const std::string& name) {
    wire::Message m = ofType(wire::MessageType::Login);
    m.citizen = citizen;
    m.password = password;
    m.name = name;
    return m;
}

inline std::vector<std::string> textsOf(const std::vector<wire::Message>& messages) {
    std::vector<std::string> texts;
    for (const wire::Message& m : messages) {
        texts.push_back(m.text);
    }
    return texts;
}
