#include "studio.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/random.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ostream>
#include <string_view>

#include "command_line.h"
#include "output/draft.h"
#include "song_roll.h"
#include "studio_assets.h"
#include "studio_json.h"
#include "studio_song.h"

namespace {

constexpr size_t MAX_BODY = size_t{1} << 20;   // a song's text, as JSON
constexpr time_t READ_SECONDS = 10;            // a request, head and body
constexpr time_t WRITE_SECONDS = 30;           // each part of an answer
// Connections at once: each holds a thread while it is kept alive (a
// browser keeps several open), so there are enough for a few pages and
// scripts, and an idle one lets its thread go soon. Mixes wait for their
// turn apart from these (see STUDIO_MIXES).
constexpr size_t SERVER_THREADS = 32;
constexpr time_t KEEP_ALIVE_SECONDS = 1;
constexpr size_t WAVE_PIECE = size_t{1} << 16; // an answer's WAV goes out in pieces of this
constexpr int STUDIO_MMAP_THRESHOLD = 1 << 20;

// A song for a SONG that does not exist yet: short, valid, quiet at the
// end, with a bar line in every channel that plays.
constexpr const char* STARTER_SONG = R"(; A new song. The studio checks, draws and plays it as you write.
channel 0 lead
  t43 o4 v8 l8 c e g >c< g e c e | c2 r2 |
  [ r1 ]255
channel 1 bass
  o2 v10 l2 c g | c r |
  [ r1 ]255
channel 2
  [ r1 ]255
channel 3
  [ r1 ]255
channel 4
  [ r1 ]255
channel 5
  [ r1 ]255
channel 6
  [ r1 ]255
channel 7 drums
  o3 v8 [ c8 f+8 d8 f+8 c8 f+8 d8 f+8 | ]2
  [ r1 ]255
)";

bool read_port(const std::string& text, int& port)
{
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), ::isdigit)) return false;
    port = std::stoi(text);
    return port <= 65535;
}

bool is_loopback(const std::string& address)
{
    in_addr v4{};
    in6_addr v6{};
    if (address == "localhost") return true;
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, address.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool is_ip_literal(const std::string& address)
{
    in_addr v4{};
    in6_addr v6{};
    return inet_pton(AF_INET, address.c_str(), &v4) == 1 || inet_pton(AF_INET6, address.c_str(), &v6) == 1;
}

std::string lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// False when the system gives no random numbers.
bool random_bytes(unsigned char* bytes, size_t count)
{
    for (size_t done = 0; done < count;) {
        const ssize_t n = getrandom(bytes + done, count - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// 128 random bits as hex, or empty when the system gives none.
std::string random_token()
{
    unsigned char bytes[16];
    if (!random_bytes(bytes, sizeof bytes)) return {};
    std::string token;
    for (const unsigned char b : bytes) token += "0123456789abcdef"[b >> 4], token += "0123456789abcdef"[b & 15];
    return token;
}

// Compares every byte whatever the first difference, so the time taken
// tells nothing of the token.
bool same_token(const std::string& given, const std::string& token)
{
    unsigned char difference = given.size() == token.size() ? 0 : 1;
    for (size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
    return difference == 0;
}

// A text's identity for the save's check: its size and an FNV-1a hash of
// its bytes.
std::string stamp_of_text(const std::string& content)
{
    uint64_t hash = 14695981039346656037ull;
    for (const char c : content) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[48];
    std::snprintf(text, sizeof text, "%zu-%016llx", content.size(), static_cast<unsigned long long>(hash));
    return text;
}

// The file's stamp, "missing" when it is not there.
std::string stamp_of(const std::string& path)
{
    std::string content, reason;
    return read_file(path, content, reason) ? stamp_of_text(content) : "missing";
}

struct Studio {
    StudioOptions options;
    std::string token;  // required of every API request; empty on loopback
    std::string machine_name;
    int port = 0;
    StudioSong song;
    httplib::Server server;
};

// With a charset, which the server does not compress (as it would
// application/json itself): on this machine's own network compressing a
// roll takes far longer than sending it.
constexpr const char* JSON_TYPE = "application/json; charset=utf-8";
constexpr const char* SVG_TYPE = "image/svg+xml; charset=utf-8";

void send_json(httplib::Response& res, int status, const std::string& json)
{
    res.status = status;
    res.set_content(json + "\n", JSON_TYPE);
}

void send_error(httplib::Response& res, int status, const std::string& message)
{
    send_json(res, status, "{\"error\": " + json_string(message) + "}");
}

// "host", "host:port", "[v6]:port" -> host and port (0 when not given).
bool split_host(const std::string& value, std::string& host, int& port)
{
    port = 0;
    std::string rest;
    if (!value.empty() && value[0] == '[') {
        const size_t close = value.find(']');
        if (close == std::string::npos) return false;
        host = value.substr(1, close - 1);
        rest = value.substr(close + 1);
    } else {
        const size_t colon = value.find(':');
        host = value.substr(0, colon);
        rest = colon == std::string::npos ? "" : value.substr(colon);
    }
    if (rest.empty()) return !host.empty();
    return rest[0] == ':' && read_port(rest.substr(1), port) && !host.empty();
}

// The Host a request names must be this server under a name no other site
// can take: an address, localhost, or the machine's own name. A page of
// another site that rebinds its name to this address names its own host.
bool host_allowed(const Studio& s, const std::string& value)
{
    std::string host;
    int port = 0;
    if (!split_host(value, host, port) || port != s.port) return false;
    host = lower(host);
    if (s.token.empty()) return is_loopback(host);
    return is_ip_literal(host) || host == "localhost" || (!s.machine_name.empty() && host == s.machine_name);
}

// Why a request is refused before it is routed, with its status; 0 when
// it may go on.
int refusal(const Studio& s, const httplib::Request& req, std::string& why)
{
    if (!host_allowed(s, req.get_header_value("Host"))) return why = "this server answers only to its own address", 403;
    const std::string origin = req.get_header_value("Origin");
    if (req.has_header("Origin") && origin != "http://" + req.get_header_value("Host"))
        return why = "requests from another site's pages are refused", 403;
    if (req.get_header_value("Sec-Fetch-Site") == "cross-site") return why = "requests from another site's pages are refused", 403;
    if (s.token.empty() || !req.path.starts_with("/api/")) return 0;
    const std::string given =
        req.has_header("X-Studio-Token") ? req.get_header_value("X-Studio-Token") : req.get_param_value("token");
    if (!same_token(given, s.token)) return why = "a missing or wrong token: use the address the studio printed", 401;
    return 0;
}

// The request's JSON object; false after answering 400.
bool read_body(const httplib::Request& req, httplib::Response& res, JsonObject& body)
{
    std::string error;
    if (req.body.empty()) return body.clear(), true;
    if (parse_json_object(req.body, body, error)) return true;
    send_error(res, 400, "the body is not a JSON object of plain values: " + error);
    return false;
}

// A member that must be a string (numbers are taken as written); false
// after answering 400.
bool text_member(const JsonObject& body, const std::string& name, std::string& value, httplib::Response& res)
{
    const auto it = body.find(name);
    if (it == body.end() || it->second.kind == JsonValue::Kind::null) return true;
    if (it->second.kind == JsonValue::Kind::string || it->second.kind == JsonValue::Kind::number)
        return value = it->second.text, true;
    send_error(res, 400, "'" + name + "' must be a string");
    return false;
}

// The text a request is about: its "text", or the song as on disk.
std::shared_ptr<StudioText> requested_text(Studio& s, const JsonObject& body, httplib::Response& res)
{
    if (body.count("text") != 0) {
        std::string text;
        if (!text_member(body, "text", text, res)) return nullptr;
        return studio_text(s.song, text);
    }
    std::string content, reason;
    if (!read_file(s.options.song, content, reason)) {
        send_error(res, 500, "cannot read " + s.options.song + ": " + reason);
        return nullptr;
    }
    return studio_text(s.song, content);
}

// The text of a request that needs a valid song; null after answering.
std::shared_ptr<StudioText> valid_text(Studio& s, const JsonObject& body, httplib::Response& res)
{
    std::shared_ptr<StudioText> text = requested_text(s, body, res);
    if (text == nullptr || text->valid) return text;
    send_json(res, 422, "{\"error\": \"the song has errors\", \"findings\": " + findings_json(text->findings) + "}");
    return nullptr;
}

// Answers with what `answer` makes of the request's text, when it is valid.
template <class Answer>
void on_valid_text(Studio& s, const httplib::Request& req, httplib::Response& res, Answer answer)
{
    JsonObject body;
    if (!read_body(req, res, body)) return;
    if (const std::shared_ptr<StudioText> text = valid_text(s, body, res)) answer(*text);
}

// Whether httplib may serve the ranges asked for out of `size` bytes: it
// answers 206 and hands the provider only those, but never checks them
// against the size.
bool ranges_within(const httplib::Ranges& ranges, size_t size)
{
    const auto beyond = [size](ssize_t at) { return at >= 0 && static_cast<size_t>(at) >= size; };
    return std::none_of(ranges.begin(), ranges.end(), [&](const httplib::Range& r) {
        return beyond(r.first) || beyond(r.second) || (r.first < 0 && r.second < 0) ||
               (r.second >= 0 && r.first > r.second);
    });
}

// The wave, or the ranges of it the request names.
void serve_wave(const httplib::Request& req, httplib::Response& res, std::shared_ptr<const StudioWave> wave)
{
    const size_t header = sizeof wave->header, size = header + 2 * wave->count;
    if (!ranges_within(req.ranges, size)) {
        // Else httplib would cut the refusal's own body to the range. The
        // request is httplib's own object, handed to the handler as const.
        const_cast<httplib::Request&>(req).ranges.clear();
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return send_error(res, 416, "the range lies beyond the sound's " + std::to_string(size) + " bytes");
    }
    res.set_header("X-Span-Frames", std::to_string(wave->span.first) + "-" + std::to_string(wave->span.end));
    res.set_header("Accept-Ranges", "bytes");
    res.set_content_provider(size, "audio/wav", [wave, header, size](size_t offset, size_t length, httplib::DataSink& sink) {
        if (offset >= size) return false;
        if (offset < header)
            return sink.write(reinterpret_cast<const char*>(&wave->header) + offset, std::min(header - offset, length));
        const size_t at = offset - header;
        const char* bytes = reinterpret_cast<const char*>(wave->samples->data() + wave->first);
        return sink.write(bytes + at, std::min({WAVE_PIECE, length, 2 * wave->count - at}));
    });
}

// The wave a render request names, made (or waited for); null after
// answering with the reason. A sound for the page is not made for a text
// that another has replaced: the page has moved on from it.
std::shared_ptr<const StudioWave> requested_wave(Studio& s, const JsonObject& body, httplib::Response& res,
                                                 bool for_the_page)
{
    StudioRenderRequest asked;
    if (!text_member(body, "from", asked.from, res) || !text_member(body, "to", asked.to, res) ||
        !text_member(body, "solo", asked.solo, res) || !text_member(body, "mute", asked.mute, res))
        return nullptr;
    const std::shared_ptr<StudioText> text = valid_text(s, body, res);
    if (text == nullptr) return nullptr;
    RenderRequest request;
    std::string error;
    if (!studio_render_request(*text, asked, request, error)) return send_error(res, 400, error), nullptr;
    auto wave = std::make_shared<StudioWave>();
    if (studio_render(s.song, *text, request, *wave, error, for_the_page ? &text->replaced : nullptr)) return wave;
    if (error == MIX_STOPPED) send_error(res, 409, "a newer text replaced this one before its sound was made");
    else send_error(res, 503, error);
    return nullptr;
}

void render(Studio& s, const httplib::Request& req, httplib::Response& res)
{
    JsonObject body;
    if (!read_body(req, res, body)) return;
    if (auto wave = requested_wave(s, body, res, false)) serve_wave(req, res, std::move(wave));
}

constexpr const char* WAVE_PATH = "/api/wave/";

// The id in a sound's address, or in its digits alone; 0 when there is none.
uint64_t sound_id(std::string_view text)
{
    if (text.starts_with(WAVE_PATH)) text.remove_prefix(std::strlen(WAVE_PATH));
    uint64_t id = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), id);
    return failure == std::errc{} && end == text.data() + text.size() ? id : 0;
}

// A render kept as a sound: its address, for a player to stream it from.
// `playing` names the sound the asker plays, which is kept beside it.
void sound(Studio& s, const httplib::Request& req, httplib::Response& res)
{
    JsonObject body;
    std::string playing;
    if (!read_body(req, res, body) || !text_member(body, "playing", playing, res)) return;
    const uint64_t played = sound_id(playing);
    if (!playing.empty() && played == 0)
        return send_error(res, 400, "'playing' must be the address of a sound the studio gave");
    std::shared_ptr<const StudioWave> wave = requested_wave(s, body, res, true);
    if (wave == nullptr) return;
    const RenderSpan span = wave->span;
    const uint64_t id = studio_keep_sound(s.song, std::move(wave), played);
    send_json(res, 200, "{\"wave\": \"" + std::string(WAVE_PATH) + std::to_string(id) + "\", \"first\": " +
                            std::to_string(span.first) + ", \"end\": " + std::to_string(span.end) + "}");
}

void no_such_sound(httplib::Response& res)
{
    send_error(res, 404, "no such sound: the studio keeps the last " + std::to_string(STUDIO_SOUNDS_KEPT) +
                             " it made; ask /api/sound for it again");
}

void kept_sound(Studio& s, const httplib::Request& req, httplib::Response& res)
{
    std::shared_ptr<const StudioWave> wave = studio_sound(s.song, sound_id(req.matches[1].str()));
    if (wave == nullptr) return no_such_sound(res);
    res.set_header("Cache-Control", "no-store");  // the studio holds it; a browser's copy would only fill its disk
    serve_wave(req, res, std::move(wave));
}

// What the page shows of a text: its findings and, when it is valid, its
// roll, timeline and sounds; the background mixer starts on its sound.
void analyse(Studio& s, const httplib::Request& req, httplib::Response& res)
{
    JsonObject body;
    if (!read_body(req, res, body)) return;
    const std::shared_ptr<StudioText> text = requested_text(s, body, res);
    if (text == nullptr) return;
    std::string json = "{\"findings\": " + findings_json(text->findings) +
                       ", \"valid\": " + (text->valid ? "true" : "false");
    if (text->valid) {
        studio_prepare(s.song, text);
        std::string svg, error;
        if (!studio_roll(s.song, *text, svg, error)) return send_error(res, 500, error);
        std::string names;
        for (const std::string& name : text->sounds.channel_names) names += (names.empty() ? "" : ", ") + json_string(name);
        json += ", \"channel_names\": [" + names + "], \"roll_left\": " + std::to_string(ROLL_LEFT_PX) +
                ", \"roll_tick_px\": " + std::to_string(ROLL_TICK_PX);
        json += ", \"roll\": " + json_string(svg) + ", \"timeline\": " + studio_timeline(*text, true) +
                ", \"timeline_text\": " + json_string(studio_timeline(*text, false)) +
                ", \"sounds_text\": " + json_string(studio_sounds(*text, false));
    }
    send_json(res, 200, json + "}");
}

void load(Studio& s, httplib::Response& res)
{
    std::string content, reason;
    if (!read_file(s.options.song, content, reason))
        return send_error(res, 500, "cannot read " + s.options.song + ": " + reason);
    send_json(res, 200, "{\"path\": " + json_string(s.options.song) + ", \"text\": " + json_string(content) +
                            ", \"stamp\": " + json_string(stamp_of_text(content)) + "}");
}

// Saves the text whole, unless the file changed since the page loaded it
// (its stamp differs) and the save is not forced.
void save(Studio& s, const httplib::Request& req, httplib::Response& res)
{
    JsonObject body;
    std::string text, stamp;
    if (!read_body(req, res, body) || !text_member(body, "text", text, res) || !text_member(body, "stamp", stamp, res))
        return;
    if (body.count("text") == 0) return send_error(res, 400, "'text' is missing");
    const auto force = body.find("force");
    const bool forced = force != body.end() && force->second.kind == JsonValue::Kind::boolean && force->second.flag;
    const std::string on_disk = stamp_of(s.options.song);
    if (on_disk != stamp && !forced)
        return send_json(res, 409, "{\"error\": " + json_string(s.options.song + " changed on disk since it was loaded") +
                                       ", \"stamp\": " + json_string(on_disk) + "}");
    if (const int e = write_file_whole(s.options.song.c_str(), text.data(), text.size()); e != 0)
        return send_error(res, 500, "cannot write " + s.options.song + ": " + std::strerror(e));
    send_json(res, 200, "{\"stamp\": " + json_string(stamp_of_text(text)) + "}");
}

void add_routes(Studio& s)
{
    for (size_t k = 0; k < STUDIO_ASSET_COUNT; ++k) {
        const StudioAsset& asset = STUDIO_ASSETS[k];
        const std::string path = std::string(asset.path) == "/index.html" ? "/" : asset.path;
        s.server.Get(path, [&asset](const httplib::Request&, httplib::Response& res) {
            res.set_content(reinterpret_cast<const char*>(asset.bytes), asset.size, asset.type);
        });
    }
    httplib::Server& api = s.server;
    api.Get("/api/load", [&s](const httplib::Request&, httplib::Response& res) { load(s, res); });
    api.Post("/api/save", [&s](const httplib::Request& req, httplib::Response& res) { save(s, req, res); });
    api.Post("/api/analyse", [&s](const httplib::Request& req, httplib::Response& res) { analyse(s, req, res); });
    api.Post("/api/render", [&s](const httplib::Request& req, httplib::Response& res) { render(s, req, res); });
    api.Post("/api/sound", [&s](const httplib::Request& req, httplib::Response& res) { sound(s, req, res); });
    api.Get(R"(/api/wave/(\d{1,19}))", [&s](const httplib::Request& req, httplib::Response& res) {
        kept_sound(s, req, res);
    });
    api.Delete(R"(/api/wave/(\d{1,19}))", [&s](const httplib::Request& req, httplib::Response& res) {
        if (!studio_forget_sound(s.song, sound_id(req.matches[1].str()))) return no_such_sound(res);
        send_json(res, 200, "{}");
    });
    api.Post("/api/check", [&s](const httplib::Request& req, httplib::Response& res) {
        JsonObject body;
        if (!read_body(req, res, body)) return;
        if (const auto text = requested_text(s, body, res)) send_json(res, 200, findings_json(text->findings));
    });
    api.Post("/api/timeline", [&s](const httplib::Request& req, httplib::Response& res) {
        on_valid_text(s, req, res, [&](const StudioText& text) { send_json(res, 200, studio_timeline(text, true)); });
    });
    api.Post("/api/sounds", [&s](const httplib::Request& req, httplib::Response& res) {
        on_valid_text(s, req, res, [&](const StudioText& text) { send_json(res, 200, studio_sounds(text, true)); });
    });
    api.Post("/api/roll", [&s](const httplib::Request& req, httplib::Response& res) {
        on_valid_text(s, req, res, [&](const StudioText& text) {
            std::string svg, error;
            if (!studio_roll(s.song, text, svg, error)) return send_error(res, 500, error);
            res.set_content(svg, SVG_TYPE);
        });
    });
}

const char* status_reason(int status)
{
    switch (status) {
    case 400: return "a malformed request";
    case 404: return "no such page or API";
    case 405: return "the method does not fit the path";
    case 413: return "the request is too large (a body holds at most 1 MiB of JSON)";
    case 414: return "the address is too long";
    case 416: return "a malformed range";
    default: return status >= 500 ? "the server failed on the request" : "the request is refused";
    }
}

void set_up(Studio& s)
{
    httplib::Server& server = s.server;
    server.new_task_queue = [] { return new httplib::ThreadPool(SERVER_THREADS); };
    server.set_payload_max_length(MAX_BODY);
    server.set_read_timeout(READ_SECONDS);
    server.set_write_timeout(WRITE_SECONDS);
    server.set_keep_alive_timeout(KEEP_ALIVE_SECONDS);
    server.set_pre_routing_handler([&s](const httplib::Request& req, httplib::Response& res) {
        std::string why;
        const int status = refusal(s, req, why);
        if (status == 0) return httplib::Server::HandlerResponse::Unhandled;
        send_error(res, status, why);
        return httplib::Server::HandlerResponse::Handled;
    });
    // Every refusal says why as JSON; an answer with its own body keeps it.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        send_error(res, res.status, status_reason(res.status));
        return httplib::Server::HandlerResponse::Handled;
    }));
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
        std::string what = "the server failed on the request";
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            what += std::string(": ") + e.what();
        } catch (...) {
        }
        send_error(res, 500, what);
    });
    add_routes(s);
}

// The song to edit, made from the starter when it is not there: 0, or
// the exit status after saying why it cannot be had.
int open_song(const std::string& path, std::ostream& err)
{
    std::string content, reason;
    if (access(path.c_str(), F_OK) != 0 && errno == ENOENT &&
        !written(write_file_whole(path.c_str(), STARTER_SONG, std::strlen(STARTER_SONG)), path, err))
        return EXIT_FAILED;
    if (!read_file(path, content, reason)) return unreadable(path, reason, err);
    if (std::any_of(content.begin(), content.end(), [](char c) { return c == '\0'; }))
        return err << "songtool: studio: " << path << " is an assembled block; the studio edits notation\n", EXIT_USAGE;
    return 0;
}

std::string address_of(const Studio& s)
{
    const bool v6 = s.options.listen.find(':') != std::string::npos;
    std::string address = "http://" + (v6 ? "[" + s.options.listen + "]" : s.options.listen) + ":" + std::to_string(s.port) + "/";
    return s.token.empty() ? address : address + "?token=" + s.token;
}

// Waits for SIGINT or SIGTERM (blocked in every thread, so that only this
// one takes them) and stops the server.
void stop_on_signal(Studio& s, const sigset_t& stop, std::atomic<bool>& signalled)
{
    int signal = 0;
    while (sigwait(&stop, &signal) != 0) {
    }
    signalled = true;
    s.server.stop();
}

}  // namespace

bool parse_studio_arguments(const std::vector<std::string>& args, StudioOptions& options, std::string& error)
{
    bool port_given = false, listen_given = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--port" || a == "--listen") {
            bool& given = a == "--port" ? port_given : listen_given;
            if (given) return error = a + " given twice", false;
            given = true;
            if (i + 1 == args.size()) return error = a + " needs a value", false;
            const std::string& value = args[++i];
            if (a == "--listen") options.listen = value;
            else if (!read_port(value, options.port))
                return error = "--port: '" + value + "' is not a port from 0 to 65535", false;
            if (a == "--listen" && value.empty()) return error = "--listen needs an address", false;
        } else if (options.song.empty() && !a.empty() && a[0] != '-') {
            options.song = a;
        } else {
            return error = "unexpected '" + a + "'", false;
        }
    }
    if (options.song.empty()) return error = "no SONG given", false;
    return true;
}

int run_studio(const StudioOptions& options, std::ostream& err)
{
    if (const int status = open_song(options.song, err); status != 0) return status;
    // Songs and answers of megabytes come and go all the time: each is
    // mapped and given back whole, instead of the allocator keeping them
    // in its heaps once the first was freed (it raises its threshold).
    mallopt(M_MMAP_THRESHOLD, STUDIO_MMAP_THRESHOLD);
    auto s = std::make_unique<Studio>();
    s->options = options;
    s->song.path = options.song;
    if (!is_loopback(options.listen)) {
        s->token = random_token();
        if (s->token.empty()) return err << "songtool: studio: no random numbers for a token\n", EXIT_FAILED;
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) == 0) s->machine_name = lower(name);
    }
    // Sounds are numbered from a random start (else from the clock), so
    // that a page left open on an earlier run of the studio does not stream
    // another run's sound.
    uint64_t start = 0;
    if (!random_bytes(reinterpret_cast<unsigned char*>(&start), sizeof start))
        start = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    constexpr uint64_t IDS = uint64_t{1} << 40;  // thirteen digits
    s->song.next_sound = IDS | (start % IDS);
    set_up(*s);
    s->port = options.port == 0 ? s->server.bind_to_any_port(options.listen)
                                : (s->server.bind_to_port(options.listen, options.port) ? options.port : -1);
    if (s->port <= 0)
        return err << "songtool: studio: cannot listen on " << options.listen << " port " << options.port << ": "
                   << std::strerror(errno) << '\n',
               EXIT_USAGE;

    // SIGPIPE blocked too: a client that went away fails the write instead.
    sigset_t stop, blocked, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    blocked = stop;
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    studio_start(s->song);
    std::atomic<bool> signalled = false;
    std::thread waiter(stop_on_signal, std::ref(*s), std::cref(stop), std::ref(signalled));
    err << "studio: " << address_of(*s) << '\n' << std::flush;
    const bool listened = s->server.listen_after_bind();
    if (!signalled) pthread_kill(waiter.native_handle(), SIGTERM);  // it stopped by itself
    waiter.join();
    studio_stop(s->song);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    err << "studio: stopped\n";
    return listened ? 0 : EXIT_FAILED;
}
