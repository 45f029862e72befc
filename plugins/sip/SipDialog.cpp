// SipDialog: the keys of a session and the end of its connection.
#include "plugins/sip/SipDialog.h"

#include <cstring>

#include "mosal/TextSock.h"
#include "mosal_posix/IODevice.h"
#include "plugins/sip/SipConnection.h"

namespace MorvaneLib {

const char* const SipDialog::KEYS[] = {
    "Call-ID",          "To",
    "From",             "Contact",
    "Organization",     "Expires",
    "Subject",          "RequestedMedia",
    "VideoMinPort",     "VideoMaxPort",
    "AudioMinPort",     "AudioMaxPort",
    "WhiteBoardMinPort", "WhiteBoardMaxPort",
    "TextMinPort",      "TextMaxPort",
    "DataMinPort",      "DataMaxPort",
    "VideoEncoding",    "AudioEncoding",
    "TextEncoding",     "WhiteBoardEncoding",
    "VideoTransport",   "AudioTransport",
    "TextTransport",    "WhiteBoardTransport",
    "DataTransport",    "Description",
    "EMail",            "Phone",
    "RemoteIP",         "RemotePort",
    "Natted",           nullptr};

SipDialog::SipDialog(const char* callId)
    : ConfigTable(BUCKETS), connection(nullptr), hasPeer(false) {
  set(KEYS[0], callId);
  for (unsigned i = 1; KEYS[i] != nullptr; ++i) set(KEYS[i], "");
}

SipDialog::~SipDialog() {
  if (connection == nullptr) return;
  if (SipConnection* c = dynamic_cast<SipConnection*>(connection)) {
    c->finish();  // after the answer it may still be writing
  } else {
    connection->setState(IODevice::STATUS_EOF);
  }
}

void SipDialog::setPeer(const InetAddress* address) {
  hasPeer = address != nullptr;
  if (hasPeer) peer = *address;
}

const char* SipDialog::text(const char* key) {
  char* s = nullptr;
  if (getString(key, &s) != 0 || s == nullptr) return "";
  return s;
}

int SipDialog::set(const char* key, const char* value) {
  if (value == nullptr) value = "";
  return setString(key, value, static_cast<unsigned>(std::strlen(value)) + 1);
}

}  // namespace MorvaneLib
