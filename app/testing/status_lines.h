#pragma once

#include <string>

// The status log's lines as an operator sees them at the start of each command, for the tests of
// both windows.
namespace brelin::app::testing {

inline const std::string kOpening =
    "Checking output filename.\r\nCreating output file.\r\nGet data from KLV480.\r\n"
    "Opening communication port.\r\n";
inline const std::string kDownloaded = kOpening + "Downloading data from KLV480.\r\n" +
                                       "Obtaining KLV480 system info.\r\nAnalysing data.\r\n";
inline const std::string kErasing = "Get data from KLV480.\r\nOpening communication port.\r\n";

}  // namespace brelin::app::testing
