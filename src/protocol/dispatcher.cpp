#include "protocol/dispatcher.h"

#include <algorithm>

#include "log/log.h"
#include "platform/links.h"
#include "protocol/json_members.h"

namespace kq {

namespace {

constexpr const char* kReplacementJson = "{\"jsonReceived\":[{\"date\":\"\",\"time\":\"\"}]}";

// startsLikeTypeName is true when the first bytes (up to five) are the start
// of a packet type name.
bool startsLikeTypeName(std::string_view bytes) {
  std::size_t n = std::min<std::size_t>(bytes.size(), 5);
  if (n == 0) return false;
  return std::any_of(kPacketTypes.begin(), kPacketTypes.end(),
                     [&](std::string_view name) { return name.substr(0, n) == bytes.substr(0, n); });
}

// toSevenBit replaces every byte of 0x80 and above with '?'.
std::string toSevenBit(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return text;
}

}  // namespace

void Dispatcher::setHandler(int code, RequestHandler* handler) {
  if (code > 0 && code < static_cast<int>(handlers_.size())) handlers_[code] = handler;
}

void Dispatcher::onConnectionClosed() {
  held_.clear();
  if (receiver_ != nullptr) receiver_->onConnectionClosed();
  for (SessionObserver* observer : observers_) observer->onSessionClosed();
}

void Dispatcher::FilesyncSocketRead(std::string_view bytes) {
  // A read that yields no bytes is no packet and no file data.
  if (bytes.empty()) return;
  std::string buffer(bytes);
  if (!held_.empty()) {
    std::string joined = held_ + buffer;
    if (!heldIsPrefix_ || startsLikeTypeName(joined)) {
      buffer = std::move(joined);
    } else {
      log_.writeLog("Incomplete packet header dropped: " + held_, false);
    }
    held_.clear();
  }
  readEvent(std::move(buffer));
}

void Dispatcher::readEvent(std::string bytes) {
  try {
    log_.writeLog("<===", false);
    std::string next = std::move(bytes);
    while (!next.empty()) next = processPacket(next);
  } catch (...) {
    log_.writeLog("Error: FilesyncSocketRead()", true);
    try {
      if (receiver_ != nullptr) receiver_->closeOpenFile();
    } catch (...) {
    }
  }
}

std::string Dispatcher::processPacket(std::string_view buffer) {
  if (!state_.fileDataMode && holdPartialHeader(buffer)) return {};
  PacketContext packet;
  std::string_view text = textView(buffer);
  int code = buffer.front() == '{' ? 0 : packetTypeCode(text);
  packet.typeCode = code;
  log_.writeLog("Packet type: " + std::to_string(code), false);
  if (code == 0) log_.writeLog("Last received packet type: " + std::to_string(state_.lastPacketType), false);

  bool fileData = state_.fileDataMode;
  std::string jsonBody;
  std::string next;
  if (fileData) {
    next = std::string(buffer.substr(takeFileData(buffer, packet)));
  } else if (code > 0) {
    state_.currentRequestId = requestIdOf(buffer);
    for (SessionObserver* observer : observers_) observer->onRequestHeader(code);
    log_.writeTrace("Received header: " + std::string(text));
    state_.lastHeaderText = std::string(text);
    if (code == kRQFDA) {
      next = std::string(buffer.substr(takeRqfdaHeader(buffer, packet)));
    } else {
      jsonBody = std::string(textView(buffer.substr(kHeaderSize)));
    }
  } else if (buffer.front() == '{') {
    Split split = splitJsonRead(buffer, packet);
    jsonBody = std::move(split.jsonBody);
    next = std::move(split.next);
  }
  if (!jsonBody.empty()) processJson(jsonBody, code, packet);
  if (!packet.answerType.empty()) sendSimplePacket(packet.answerType, state_.currentRequestId, link_, log_);
  // File data keeps lastPacketType: a chunk that happens to hold a type name is no header.
  if (code != 0 && !fileData) state_.lastPacketType = code;
  return next;
}

// holdPartialHeader keeps a request header that is still missing some of its
// 17 bytes (or the first letters of one) until the next read completes it.
bool Dispatcher::holdPartialHeader(std::string_view buffer) {
  if (buffer.size() >= kHeaderSize || buffer.front() == '{') return false;
  bool named = packetTypeCode(buffer) > 0;
  if (!named && !startsLikeTypeName(buffer)) return false;
  held_ = std::string(buffer);
  heldIsPrefix_ = !named;
  log_.writeLog("Incomplete packet header (" + std::to_string(buffer.size()) +
                    " bytes), waiting for the rest", false);
  return true;
}

std::size_t Dispatcher::takeFileData(std::string_view buffer, PacketContext& packet) {
  if (receiver_ == nullptr) {
    log_.writeLog("File data dropped: no file receiver", true);
    state_.fileDataMode = false;
    return buffer.size();
  }
  std::size_t used = std::min(receiver_->onData(buffer, packet), buffer.size());
  // A receiver that takes nothing and stays in data mode would stall the read.
  if (used == 0 && state_.fileDataMode) used = buffer.size();
  return used;
}

std::size_t Dispatcher::takeRqfdaHeader(std::string_view buffer, PacketContext& packet) {
  if (receiver_ == nullptr) {
    log_.writeLog("RQFDA refused: no file receiver", true);
    packet.answerType = "ANFDA";
    return buffer.size();
  }
  std::size_t used = receiver_->onHeader(buffer, packet);
  return std::clamp(used, kHeaderSize, buffer.size());
}

Dispatcher::Split Dispatcher::splitJsonRead(std::string_view buffer, PacketContext& packet) {
  std::string_view text = textView(buffer);
  Split split;
  auto brace = text.find('}');
  if (brace == std::string_view::npos) {
    answerForLastHeader(packet);
    return split;
  }
  split.jsonBody = std::string(text.substr(0, brace + 1));
  if (buffer.size() > brace + 1) {
    std::string_view next = buffer.substr(brace + 1);
    log_.writeLog("Double packet detected. Next packet:", true);
    hexDump(next, 16, false, &log_);
    log_.writeLog("Next packet header: " + std::string(textView(next)), true);
    if (packetTypeCode(next) == 0 && !startsLikeTypeName(next)) {
      split.jsonBody.clear();
      answerForLastHeader(packet);
    } else {
      split.next = std::string(next);
      state_.lastHeaderText = std::string(textView(next));
    }
  }
  return split;
}

void Dispatcher::answerForLastHeader(PacketContext& packet) {
  log_.writeLog("Error in packet header! Can not provide request: " + state_.lastHeaderText, true);
  packet.answerType = answerTypeFor(state_.lastHeaderText);
  log_.writeLog("Sending answer to continue sync for received last header...", true);
}

void Dispatcher::processJson(const std::string& body, int code, PacketContext& packet) {
  std::string jsonText = "{\"jsonReceived\":[" + body + "]}";
  log_.writeTrace("JSON string: " + jsonText);
  if (body.back() != '}') {
    jsonText = kReplacementJson;
    log_.writeLog("Error in receiving JSON. Can not provide request: " + state_.lastHeaderText, true);
    packet.answerType = answerTypeFor(state_.lastHeaderText);
    log_.writeLog("Sending answer to continue sync... ", true);
  }
  std::vector<JsonMember> members = receivedMembers(toSevenBit(std::move(jsonText)));
  int effectiveType = code > 0 ? code : std::max(state_.lastPacketType, 0);
  log_.writeTrace("Parsing packet type " + std::to_string(effectiveType));
  RequestHandler* handler = effectiveType < static_cast<int>(handlers_.size()) ? handlers_[effectiveType] : nullptr;
  if (handler == nullptr) return;
  for (const JsonMember& member : members) handler->onMember(member.key, member.value, packet);
}

}  // namespace kq
