// The decoded message behind an HCRYPTMSG, shared by the two ways the
// stand-in makes one: the embedded-signature query (Crypt32.cpp) and a
// message opened for decoding and fed its bytes (CryptMsgDecode.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Win32.h"
#include "platform/signature/Pkcs7.h"
#include "platform/standin/EntryContext.h"
#include "platform/standin/FlatBlock.h"

namespace veltrano {

// `data` holds views into `bytes`. The file a query read stays open with it,
// lent to the open for attribute writing that follows (EntryContext.h), until
// that takes it or the message is closed.
struct CryptMessage {
  std::vector<std::uint8_t> bytes;
  pkcs7::SignedData data;
  // The signer whose information was placed last, and that placement.
  std::size_t placedSigner = 0;
  Placement signerPlacement;
  HeldFile file;
  // Opened for decoding: true until CryptMsgUpdate has had its bytes.
  bool awaitingBytes = false;
};

// CryptMsgGetParam for a message's content: CMSG_CONTENT_PARAM (the inner
// content; as the platform gives it, with its OCTET STRING header unless its
// type is data), CMSG_INNER_CONTENT_TYPE_PARAM (the type's dotted text and a
// NUL) and CMSG_SIGNER_COUNT_PARAM (a DWORD), with the size protocol. Any
// other parameter: CRYPT_E_INVALID_MSG_TYPE.
BOOL GetContentParam(const CryptMessage& message, DWORD dwParamType, void* pvData, DWORD* pcbData);

}  // namespace veltrano
