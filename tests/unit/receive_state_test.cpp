#include "transfer/receive_state.h"

#include <gtest/gtest.h>

namespace kq {
namespace {

using M = ReceiveMode;
using E = ReceiveEvent;

struct Transition {
  M from;
  E event;
  M to;
};

// Every mode against every event.
const Transition kTransitions[] = {
    {M::Idle, E::FileAccepted, M::Idle},
    {M::Idle, E::FileRefused, M::Refusing},
    {M::Idle, E::Header, M::Receiving},
    {M::Idle, E::LastByte, M::Idle},
    {M::Idle, E::ConnectionClosed, M::Idle},
    {M::Refusing, E::FileAccepted, M::Refusing},  // the next RQFDA is still the refused one
    {M::Refusing, E::FileRefused, M::Refusing},
    {M::Refusing, E::Header, M::Dropping},
    {M::Refusing, E::LastByte, M::Refusing},
    {M::Refusing, E::ConnectionClosed, M::Idle},
    {M::Receiving, E::FileAccepted, M::Receiving},  // in data mode nothing but the count ends it
    {M::Receiving, E::FileRefused, M::Receiving},
    {M::Receiving, E::Header, M::Receiving},
    {M::Receiving, E::LastByte, M::Idle},
    {M::Receiving, E::ConnectionClosed, M::Idle},
    {M::Dropping, E::FileAccepted, M::Dropping},
    {M::Dropping, E::FileRefused, M::Dropping},
    {M::Dropping, E::Header, M::Dropping},
    {M::Dropping, E::LastByte, M::Idle},
    {M::Dropping, E::ConnectionClosed, M::Idle},
};

TEST(ReceiveState, EveryTransition) {
  for (const auto& t : kTransitions) {
    EXPECT_EQ(modeName(nextMode(t.from, t.event)), std::string(modeName(t.to)))
        << modeName(t.from) << " + event " << static_cast<int>(t.event);
  }
}

TEST(ReceiveState, DataModeIsReceivingOrDropping) {
  EXPECT_FALSE(inDataMode(M::Idle));
  EXPECT_FALSE(inDataMode(M::Refusing));
  EXPECT_TRUE(inDataMode(M::Receiving));
  EXPECT_TRUE(inDataMode(M::Dropping));
}

}  // namespace
}  // namespace kq
