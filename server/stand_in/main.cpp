// plivors-stand-in: the tests' map and download server. Synthetic pictures
// every pixel of which a test can predict, a fixed gazetteer, and answers
// shaped on request to play a misbehaving server (server/stand_in/). Built
// on the map server's front; not part of the product.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <thread>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/program_options.hpp>

#include "server/front/serving.h"
#include "server/stand_in/stand_in.h"

namespace {

namespace po = boost::program_options;

const char kUsage[] =
    "usage: plivors-stand-in [--bind ADDRESS] [--port N] [--port-file F] [--log F] [--downloads DIR]\n"
    "                        [--idle-timeout S] [--request-timeout S] [--send-timeout S]\n"
    "                        [--colors 2|16|256] [--interlace] [--transparent N]\n";

// The options, or the exit status when there is nothing to serve.
int Parse(int argc, char** argv, front::Serving& serving, stand_in::Options& options) {
    po::options_description all = front::ServingOptions(serving);
    all.add_options()("colors", po::value(&options.style.colors))("transparent", po::value(&options.style.transparent))(
        "interlace", po::bool_switch(&options.style.interlace))("help,h", "");
    po::variables_map given;
    try {
        po::store(po::command_line_parser(argc, argv)
                      .options(all)
                      .positional({})
                      .style(po::command_line_style::unix_style ^ po::command_line_style::allow_guessing)
                      .run(),
                  given);
        po::notify(given);
    } catch (const po::error& e) {
        std::fprintf(stderr, "plivors-stand-in: %s\n\n%s", e.what(), kUsage);
        return 2;
    }
    if (given.count("help")) {
        std::printf("%s\n%s", kUsage, stand_in::Usage());
        return 0;
    }
    std::string why = front::Check(serving);
    const int colors = options.style.colors;
    if (why.empty() && colors != 2 && colors != 16 && colors != 256) why = "--colors must be 2, 16 or 256";
    if (why.empty()) return -1;
    std::fprintf(stderr, "plivors-stand-in: %s\n", why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    front::Serving serving;
    stand_in::Options options;
    if (int status = Parse(argc, argv, serving, options); status >= 0) return status;
    options.downloads = serving.downloads;
    try {
        front::RequestLog requests(serving.logFile);
        front::RaiseDescriptorLimit();
        std::unique_ptr<front::Server> server = front::Bind(serving, "plivors-stand-in");
        if (!server) return 1;
        const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        // Pictures are drawn off the front's threads; delays and trickles
        // are the front's timers, so any number of them overlap.
        boost::asio::thread_pool drawing(static_cast<size_t>(std::max(4, cores)));
        const int status = front::Serve(*server, serving, "plivors-stand-in", "", [&](front::Request req, front::Reply reply) {
            requests.Line(req.target);  // on arrival: the tests read what reached the server
            boost::asio::post(drawing, [&options, req = std::move(req), reply = std::move(reply)] {
                reply(stand_in::Handle(options, req));
            });
        }, cores);
        drawing.join();
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "plivors-stand-in: %s\n", e.what());
        return 1;
    }
}
