// The proximity page of the plug-in's protocol: a Latin-1 HTML page whose
// phrase (HTML with named entities) follows a fixed start and ends at
// "</small>"; the plug-in reads the phrase between the two.
#pragma once

#include <string>

namespace protocol {

constexpr const char kPhraseStart[] =
    "<small align=\"center\" class=\"textnormal\">Su veh&iacute;culo&nbsp;<b></b>&nbsp; se encuentra en&nbsp;";
constexpr const char kPhraseEnd[] = "</small>";
constexpr const char kProximityType[] = "text/html; charset=ISO-8859-1";

std::string ProximityPage(const std::string& phrase);

}  // namespace protocol
