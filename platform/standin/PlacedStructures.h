// The structures the CryptoAPI stand-in hands out in one caller block
// (FlatBlock.h): each placed from its decoded form, and moved with its block.
#pragma once

#include <cstdint>

#include "platform/Win32.h"
#include "platform/signature/Pkcs7.h"
#include "platform/standin/FlatBlock.h"

namespace veltrano {

// A CMSG_SIGNER_INFO: the signer's issuer, serial number (little-endian, as
// the platform gives it), algorithms, encrypted digest and both attribute
// lists with their values' complete encodings.
void PlaceSignerInfo(FlatBlock& block, const pkcs7::SignerInfo& si);
void RebaseSignerInfo(std::uint8_t* block, const Rebase& rebase);

// An SPC_SP_OPUS_INFO: the program's name and its two links.
void PlaceOpusInfo(FlatBlock& block, const pkcs7::OpusInfo& opus);
void RebaseOpusInfo(std::uint8_t* block, const Rebase& rebase);

}  // namespace veltrano
