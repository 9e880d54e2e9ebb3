#pragma once
// CycleEndWatch is the RQFLS handler the engine registers: it hands every
// member to CycleEnd and, once the "time" member went through (the moment the
// queue panels are set), tells the engine that a server cycle ended.
#include <functional>
#include <string>

#include "protocol/request_handler.h"

namespace kq {

class CycleEndWatch : public RequestHandler {
 public:
  CycleEndWatch(RequestHandler& inner, std::function<void()> ended) : inner_(inner), ended_(std::move(ended)) {}
  void onMember(const std::string& key, const std::string& value, PacketContext& packet) override {
    inner_.onMember(key, value, packet);  // a failure ends the read: no cycle end then
    if (key == "\"time\"") ended_();
  }

 private:
  RequestHandler& inner_;
  std::function<void()> ended_;
};

}  // namespace kq
