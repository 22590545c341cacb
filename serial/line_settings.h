#pragma once

#include "serial/port_status.h"

namespace brelin::serial {

inline constexpr int kMaxBaudRate = 115200;

// Parity letters as drivers accept them: the low byte with bit 0x20 cleared, so either case works.
enum class Parity { kNone, kOdd, kEven, kMark, kSpace };

// kOk and the parity in *out, or kBadParity for a letter other than E, M, N, O, S.
inline int DecodeParity(int letter, Parity* out) {
  switch ((letter & 0xFF) & ~0x20) {
    case 'E':
      *out = Parity::kEven;
      return kOk;
    case 'M':
      *out = Parity::kMark;
      return kOk;
    case 'N':
      *out = Parity::kNone;
      return kOk;
    case 'O':
      *out = Parity::kOdd;
      return kOk;
    case 'S':
      *out = Parity::kSpace;
      return kOk;
    default:
      return kBadParity;
  }
}

// The checks every driver's SetLine makes, in this order: kBadBaudRate above 115200 (or not
// positive), kBadParity, kBadStopBits other than 1 or 2, kBadDataBits outside 5..8; else kOk.
inline int CheckLineSettings(int baudRate, int parity, int dataBits, int stopBits) {
  Parity p;
  if (baudRate > kMaxBaudRate || baudRate <= 0) return kBadBaudRate;
  if (DecodeParity(parity, &p) != kOk) return kBadParity;
  if (stopBits != 1 && stopBits != 2) return kBadStopBits;
  if (dataBits < 5 || dataBits > 8) return kBadDataBits;
  return kOk;
}

}  // namespace brelin::serial
