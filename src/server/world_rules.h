#pragma once

// The world's rules: what each message of a connection means. Greeting,
// login, entering a world, moving, chat and console messages, and who hears
// what; the sessions, the worlds and where each avatar stands. It sends
// through the connections and never touches a socket.

#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/wire_message.h"
#include "server/address_allowances.h"
#include "server/connections.h"
#include "server/hearing_grid.h"
#include "server/place_news.h"
#include "server/server_config.h"
#include "server/session_index.h"
#include "server/token_bucket.h"
#include "server/world_observer.h"

class WorldRules : public ConnectionEvents {
  public:
    WorldRules(const ServerConfig& config, Connections& connections, AddressAllowances& addresses);

    // An onlooker told of presence, said lines and console messages; null
    // for none. It must outlive the rules' use.
    void setObserver(WorldObserver* observer) { observer_ = observer; }

    void received(Connection& connection, const wire::Message& message) override;
    void leaving(Connection& connection) override;
    void closed(Connection& connection) override;
    void beforeWriting() override;

  private:
    // A logged-in session; indexed by its connection's socket.
    struct Avatar {
        Connection* connection = nullptr;  // null when the socket holds no session
        int session = 0;
        int citizen = 0;
        bool bot = false;
        bool hearAll = false;
        TokenBucket chatLines, moves, entries;
        std::string name;        // as others see it
        std::string foldedName;  // the name in one letter case, to find a clash
        // Its AvatarArrived at its present position, made once for every
        // newcomer that is told of it.
        std::string arrival;
        bool arrivalStale = true;
        int place = -1;  // index into places_; -1 when in no world
        int x = 0, y = 0, z = 0;
        NewsCursor news;  // how far it was told of its place's news
    };
    // One hosted world and who is in it.
    struct Place {
        Place(std::string world, int hearingRange) : name(std::move(world)), grid(hearingRange) {}
        std::string name;
        std::vector<int> members;                     // sockets, in the order of login
        std::unordered_map<std::string, int> byName;  // folded name -> socket
        HearingGrid grid;                             // where the members stand
        std::vector<int> hearAll;                     // members that hear every said line
        PlaceNews news;  // arrivals, departures and moves not yet told to all
    };

    void handleHello(Connection& connection, const wire::Message& message);
    void handleLogin(Connection& connection, const wire::Message& message);
    void handleEnter(Avatar& avatar, const wire::Message& message);
    void handleState(Avatar& avatar, const wire::Message& message);
    void handleChat(Avatar& avatar, const wire::Message& message);
    void handleConsole(Avatar& avatar, const wire::Message& message);
    int loginCode(const Connection& connection, const wire::Message& message) const;
    void refuseLogin(Connection& connection, const wire::Message& message, int code);
    // Uses one of the session's allowance and its address's for the action.
    bool allowed(Avatar& avatar, TokenBucket& own, AddressAllowances::Action action);
    // The other avatar of the place that has the avatar's name, or nullptr.
    Avatar* nameHolder(const Avatar& avatar, const Place& place);

    Avatar* avatarOf(const Connection& connection);
    // The avatar of `session` when it stands in `place` and is not being
    // dropped; nullptr otherwise.
    Avatar* inPlace(int session, int place);
    bool hears(const Avatar& listener, const Avatar& speaker) const;
    void leavePlace(Avatar& avatar);
    // Tells the avatar what it is yet to hear of its place's news, before
    // anything else is sent to it.
    void catchUp(Avatar& avatar);
    // Tells every member of the place all of its news.
    void deliverNews(Place& place);
    // Delivers the news at once when they would put much output on the
    // members: so that the output budget sees it while input is still read.
    void deliverWhenLarge(Place& place);

    void send(Avatar& avatar, const std::string& frame);
    void send(Connection& connection, const wire::Message& message);
    void reply(Connection& connection, wire::MessageType request, int code, int value = 0);
    void refuse(Connection& connection, wire::MessageType request, int code);

    const ServerConfig& config_;
    Connections& connections_;
    AddressAllowances& addresses_;
    WorldObserver* observer_ = nullptr;
    std::size_t tourists_ = 0;  // logged-in tourists
    int nextSession_ = 1;
    std::vector<Avatar> avatars_;  // by socket
    SessionIndex socketOfSession_;
    std::vector<Place> places_;
    std::string frame_;  // scratch for encoding
};
