#include "server/protocol/proximity_page.h"

namespace protocol {

std::string ProximityPage(const std::string& phrase) {
    return std::string("<html>\n<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">"
                       "<title>Proximidad</title></head>\n<body>\n") +
           kPhraseStart + phrase + kPhraseEnd + "\n</body>\n</html>\n";
}

}  // namespace protocol
