// The live dashboard of `sysmon serve`: the page at "/", its script and style
// sheet (compiled into the command), and "/api/live", everything the page
// shows for one sample in one response.
#pragma once

namespace httplib {
class Server;
}

namespace sysmon_cli {

class Sampler;

// Registers GET (and so HEAD) "/", "/dashboard.js", "/dashboard.css" and
// "/api/live". Call it before registering a pattern that also matches
// "/api/live" (such as "/api/([a-z_]+)"): cpp-httplib takes the first match.
// `sampler` must outlive the server.
void add_dashboard_routes(httplib::Server &server, const Sampler &sampler);

}  // namespace sysmon_cli
