#include "server/front/serving_options.h"

namespace front {

boost::program_options::options_description ServingOptions(Serving& s) {
    namespace po = boost::program_options;
    po::options_description d("serving");
    d.add_options()("bind", po::value(&s.bind))("port", po::value(&s.port))("port-file", po::value(&s.portFile))(
        "log", po::value(&s.logFile))("downloads", po::value(&s.downloads))(
        "idle-timeout", po::value(&s.limits.idleSeconds))("request-timeout", po::value(&s.limits.requestSeconds))(
        "send-timeout", po::value(&s.limits.sendSeconds));
    return d;
}

std::string Check(const Serving& s) {
    if (s.port < 0 || s.port > 65535) return "bad port";
    if (s.limits.idleSeconds < 1 || s.limits.requestSeconds < 1 || s.limits.sendSeconds < 1)
        return "--idle-timeout, --request-timeout and --send-timeout take seconds";
    return "";
}

}  // namespace front
