#include "cli/ports.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "serial/testing/fake_device_tree.h"

namespace brelin::cli {
namespace {

TEST(PortsListingTest, AlignsColumnsAndHintsWhenEmpty) {
  std::string text = FormatPorts(
      {{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI-if00", "FTDI FT232R"}, {"/dev/ttyS0", "", ""}});
  EXPECT_EQ(text,
            "INDEX  PATH          BY-ID                            DESCRIPTION\n"
            "0      /dev/ttyUSB0  /dev/serial/by-id/usb-FTDI-if00  FTDI FT232R\n"
            "1      /dev/ttyS0    -\n");
  EXPECT_NE(FormatPorts({}).find("--port"), std::string::npos);
}

TEST(PortsListingTest, AbsentComNumbersKeepTheIndexesOfTheOthers) {
  EXPECT_EQ(FormatPorts({{"COM1", "\\\\.\\COM1", ""}, {}, {"COM3", "\\\\.\\COM3", ""}}),
            "INDEX  PATH  BY-ID     DESCRIPTION\n"
            "0      COM1  \\\\.\\COM1\n"
            "2      COM3  \\\\.\\COM3\n");
}

// What a script reads back from the JSON of the fake tree: python3's own parser, one line per port.
std::string ParsedByPython(const std::string& json) {
  const std::string file = std::filesystem::temp_directory_path() /
                           ("brelin_ports_" + std::to_string(getpid()) + ".json");
  std::ofstream(file) << json;
  const std::string command =
      "python3 -c 'import json,sys\n"
      "for p in json.load(open(sys.argv[1])): print(sorted(p.items()))' " +
      file;
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  std::filesystem::remove(file);
  return out;
}

TEST(PortsListingTest, JsonOfAFakeDeviceTreeParsesWithEveryField) {
  const serial::testing::FakeDeviceTree tree;
  std::vector<serial::PortEntry> ports =
      serial::DiscoverPorts(tree.roots(), serial::testing::FakeDeviceTree::OnlyTtyS0);
  ports.insert(ports.begin() + 1, serial::PortEntry{});  // an absent COM number keeps its index
  const std::string dev = tree.roots().dev;
  const std::string json = FormatPortsJson(ports);
  EXPECT_EQ(json.substr(0, json.find('\n', 2)),
            "[\n  {\"index\": 0, \"path\": \"" + dev + "/ttyUSB0\", \"by_id\": \"" + dev +
                "/serial/by-id/usb-FTDI_FT232R-if00-port0\", \"description\": \"FTDI FT232R USB "
                "UART\", \"usb_vendor\": \"0403\", \"usb_product\": \"6001\", \"usb_serial\": "
                "\"A5XK3RJT\"},");
  const auto bare = [&](int index, const std::string& name) {
    return "[('by_id', None), ('description', None), ('index', " + std::to_string(index) +
           "), ('path', '" + dev + "/" + name +
           "'), ('usb_product', None), ('usb_serial', None), ('usb_vendor', None)]\n";
  };
  const std::string parsed = ParsedByPython(json);
  EXPECT_EQ(parsed.substr(parsed.find('\n') + 1),
            bare(2, "ttyUSB10") +
                "[('by_id', None), ('description', 'Board \"B\\\\2\"'), ('index', 3), ('path', '" +
                dev +
                "/ttyACM0'), ('usb_product', '0043'), ('usb_serial', None), ('usb_vendor', "
                "'2341')]\n" +
                bare(4, "ttyS0") + bare(5, "ttyAMA0"));
  EXPECT_EQ(FormatPortsJson({}), "[]\n");
  EXPECT_EQ(
      ParsedByPython(FormatPortsJson({{"/dev/x\n\t\x01", "", "\\"}})),
      "[('by_id', None), ('description', '\\\\'), ('index', 0), ('path', '/dev/x\\n\\t\\x01'), "
      "('usb_product', None), ('usb_serial', None), ('usb_vendor', None)]\n");
}

}  // namespace
}  // namespace brelin::cli
