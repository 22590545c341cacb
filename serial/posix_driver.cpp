#include "serial/posix_driver.h"

namespace brelin::serial {
namespace {

int NotYetServed() {
  return kNotSupported;
}
void* NoData() {
  return nullptr;
}
void DeleteNothing(void*) {}
int NoOpen(Port&, int) {
  return kNotSupported;
}

const Driver kPosixDriver{
    .kind = kPosixDriverKind,
    .PlatformCheck = NotYetServed,
    .NewData = NoData,
    .DeleteData = DeleteNothing,
    .OpenDevice = NoOpen,
    .Descriptor = nullptr,
    .ops = {},
};

}  // namespace

const Driver& PosixDriver() {
  return kPosixDriver;
}

}  // namespace brelin::serial
