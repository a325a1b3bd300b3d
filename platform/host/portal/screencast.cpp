// SPDX-License-Identifier: MIT
// The ScreenCast portal over GDBus. Each request's answer comes as a Response signal on a
// request object whose path the caller knows in advance (its unique name and a token), so the
// signal is subscribed to before the call and waited for on a main context of the caller's own.
#include "host/portal/screencast.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

namespace VornWorld {
namespace host {
namespace portal {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.ScreenCast";

// Portal calls answer at once; the dialog of Start may wait on the user.
constexpr int kCallMs = 5000;
constexpr int kRequestMs = 10000;
constexpr int kStartMs = 60000;
// A failed request is not repeated sooner than this. After the user said no (a dismissed or
// refused dialog, sharing stopped) the pause counts from the last time the cast was wanted:
// a capture that keeps reading the screen never brings up a second dialog, while a device
// opened once the reading has stopped for the pause asks again.
constexpr auto kRetryPause = std::chrono::seconds(5);
// How often a wait for an answer looks whether the program stopped asking.
constexpr guint kStopPollMs = 50;

// The pause after a failed request, kept by whoever makes the request, under its own lock.
class RetryPause {
public:
    void Failed() {
        failed_ = true;
        at_ = std::chrono::steady_clock::now();
    }
    void Clear() { failed_ = false; }
    // Whether the request may be made again; with `restart`, the pause counts anew from now.
    bool Over(bool restart = false) {
        if (!failed_) return true;
        const auto now = std::chrono::steady_clock::now();
        const bool over = now - at_ >= kRetryPause;
        if (restart) at_ = now;
        return over;
    }

private:
    bool failed_ = false;
    std::chrono::steady_clock::time_point at_{};
};

bool UserSaidNo(Outcome outcome) {
    return outcome == Outcome::Cancelled || outcome == Outcome::Refused ||
           outcome == Outcome::Ended;
}

std::atomic<long> liveObjects{0};
// Set by StopAsking (from a signal handler too), cleared by Reset.
std::atomic<bool> stopAsking{false};
static_assert(std::atomic<bool>::is_always_lock_free, "StopAsking must be safe in a handler");
// Request tokens are unique on the shared connection, whichever cast asks.
std::atomic<unsigned> tokens{0};

// Environment overrides for the waits (tests shorten them; a user may lengthen the dialog's).
int WaitMs(const char* variable, int fallback) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') return fallback;
    long ms = std::strtol(value, nullptr, 10);
    return ms > 0 && ms < 3600000 ? static_cast<int>(ms) : fallback;
}

// A failed call's error as the portal put it, after the method's name.
std::string Describe(const char* method, GError* error) {
    if (error == nullptr) return std::string(method) + ": failed";
    g_dbus_error_strip_remote_error(error);
    return std::string(method) + ": " + error->message;
}

bool IsMissing(const GError* error) {
    if (error == nullptr || error->domain != G_DBUS_ERROR) return false;
    return error->code == G_DBUS_ERROR_SERVICE_UNKNOWN ||
           error->code == G_DBUS_ERROR_UNKNOWN_METHOD ||
           error->code == G_DBUS_ERROR_UNKNOWN_INTERFACE ||
           error->code == G_DBUS_ERROR_UNKNOWN_OBJECT ||
           error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER;
}

struct Answer {
    bool done = false;
    guint32 response = 2;
    GVariant* results = nullptr;  // a{sv}, owned
};

void OnResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                GVariant* parameters, gpointer data) {
    auto* answer = static_cast<Answer*>(data);
    if (answer->done || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ua{sv})"))) return;
    g_variant_get(parameters, "(u@a{sv})", &answer->response, &answer->results);
    answer->done = true;
}

gboolean OnTimeout(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

void TokenTrouble(const std::string& path, const char* what, int error) {
    std::fprintf(stderr, "vornplatform: the screen cast's permission file %s %s: %s\n",
                 path.c_str(), what, std::strerror(error));
}

// The stored restore token: its first line. "" when none is kept, or when the file cannot be
// read (said on standard error) or holds no text a portal could take: the portal then asks.
std::string ReadToken(Source source) {
    const std::string path = TokenPath(source);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) TokenTrouble(path, "cannot be read", errno);
        return "";
    }
    char text[512];  // a token is a UUID; anything longer is not one
    const ssize_t length = read(fd, text, sizeof text);
    const int error = errno;
    close(fd);
    if (length < 0) {
        TokenTrouble(path, "cannot be read", error);
        return "";
    }
    std::string token(text, static_cast<size_t>(length));
    token = token.substr(0, token.find_first_of("\r\n"));
    if (!g_utf8_validate(token.data(), static_cast<gssize>(token.size()), nullptr)) return "";
    return token;
}

// Forgets the stored token: the file, or an empty folder in its place.
void DropToken(Source source) {
    const std::string path = TokenPath(source);
    if (unlink(path.c_str()) != 0 && (errno == EISDIR || errno == EPERM)) rmdir(path.c_str());
}

void WriteToken(Source source, const std::string& token) {
    std::string path = TokenPath(source);
    // Make the folders, private to the user.
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
        mkdir(path.substr(0, at).c_str(), 0700);
    }
    std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << token << '\n';
        if (!out) {
            TokenTrouble(temporary, "cannot be written", errno);
            std::remove(temporary.c_str());
            return;
        }
    }
    chmod(temporary.c_str(), 0600);
    // An empty folder where the file belongs goes; a folder that holds something stays.
    if (std::rename(temporary.c_str(), path.c_str()) != 0 &&
        (rmdir(path.c_str()) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0)) {
        TokenTrouble(path, "cannot be replaced (the next capture asks again)", errno);
        std::remove(temporary.c_str());
    }
}

// A property of the ScreenCast interface (type u); false when it cannot be read.
bool Property(GDBusConnection* bus, const char* name, guint32* value) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kPortal, kPath, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", kInterface, name), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
        WaitMs("VORN_PORTAL_CALL_MS", kCallMs), nullptr, &error);
    bool ok = false;
    if (reply != nullptr) {
        GVariant* inner = nullptr;
        g_variant_get(reply, "(v)", &inner);
        if (g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32)) {
            *value = g_variant_get_uint32(inner);
            ok = true;
        }
        g_variant_unref(inner);
        g_variant_unref(reply);
    }
    if (error != nullptr) g_error_free(error);
    return ok;
}

// What the portal says of itself, read once per connection.
struct Properties {
    bool portal = false;  // whether it answered at all
    guint32 version = 0;
    guint32 sources = 0;
    guint32 cursors = 0;
};

// The process's one connection to the session bus, shared by the casts.
class Bus {
public:
    static Bus& The() {
        static Bus* bus = new Bus();  // lives as long as the process
        return *bus;
    }

    // The connection, made when there is none; null without a session bus. Valid until
    // Close(), which no one calls while a cast uses it.
    GDBusConnection* Connect() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ConnectLocked();
    }

    // The portal's properties, read on the first ask of each connection that finds the portal;
    // `portal` false without a bus or a portal, which are looked for again once the pause after
    // a failure is over (a listing asks for every window it walks). Asks nothing that makes a
    // session.
    Properties Read() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (read_) return properties_;
        Properties properties;
        if (!pause_.Over()) return properties;
        GDBusConnection* bus = ConnectLocked();
        // The portal may be started on demand by the bus: the first call may take a moment,
        // and a bus without it answers at once.
        if (bus == nullptr || !Property(bus, "version", &properties.version)) {
            pause_.Failed();
            return properties;
        }
        properties.portal = true;
        properties.sources = 1;  // what a portal without the property shares
        Property(bus, "AvailableSourceTypes", &properties.sources);
        Property(bus, "AvailableCursorModes", &properties.cursors);
        properties_ = properties;
        read_ = true;
        return properties_;
    }

    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        read_ = false;
        pause_.Clear();
        if (bus_ == nullptr) return;
        g_dbus_connection_close_sync(bus_, nullptr, nullptr);
        g_object_unref(bus_);
        bus_ = nullptr;
        --liveObjects;
    }

private:
    GDBusConnection* ConnectLocked() {
        if (bus_ != nullptr) return bus_;
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address != nullptr) {
            bus_ = g_dbus_connection_new_for_address_sync(
                address,
                static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                  G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                nullptr, nullptr, &error);
            g_free(address);
        }
        if (error != nullptr) g_error_free(error);
        if (bus_ == nullptr) return nullptr;
        g_dbus_connection_set_exit_on_close(bus_, FALSE);
        ++liveObjects;
        return bus_;
    }

    std::mutex mutex_;  // everything below
    GDBusConnection* bus_ = nullptr;
    bool read_ = false;
    Properties properties_;
    RetryPause pause_;
};

const char* SourceName(Source source) { return source == Source::Window ? "window" : "screen"; }

}  // namespace

struct ScreenCast::Impl {
    explicit Impl(Source s) : source(s) {}
    const Source source;
    std::mutex mutex;  // everything below
    // A start runs on a thread of its own while `starting`; until it ends, that thread alone
    // touches `bus`, `session`, `stream`, `cursorMode` and `why`. The thread is not joined: it
    // touches nothing but this cast (which lives as long as the process) once `starting` goes.
    bool starting = false;
    std::condition_variable settled;  // `starting` went false
    GDBusConnection* bus = nullptr;   // the shared connection, while a start uses it
    std::string session;              // the portal session's object path, "" without one
    std::shared_ptr<pipewire::VideoStream> stream;
    Outcome outcome = Outcome::None;
    unsigned cursorMode = 0;
    std::string why;  // the failing call and the portal's words, said when the start fails
    // After a failed start; after the user said no, counted from when the cast was last wanted.
    RetryPause pause;
    std::mutex publishedMutex;  // `published` alone, never held through a call
    std::shared_ptr<pipewire::VideoStream> published;  // `stream` for Running()

    void Publish() {
        std::lock_guard<std::mutex> lock(publishedMutex);
        published = stream;
    }

    static std::string NextToken() {
        return "vorn" + std::to_string(getpid()) + "_" + std::to_string(++tokens);
    }

    // The object path of the request made with `token`.
    std::string RequestPath(const std::string& token) const {
        std::string sender = g_dbus_connection_get_unique_name(bus) + 1;  // without ':'
        for (char& c : sender) {
            if (c == '.') c = '_';
        }
        return std::string(kPath) + "/request/" + sender + "/" + token;
    }

    // Calls `method` with `parameters` (floating; its options hold `token` as handle_token) and
    // waits up to `ms` for the request's response. Returns the call's outcome: Started for
    // response 0 (with `results` set, owned by the caller), Cancelled, Refused, NoPortal or
    // Failed.
    Outcome Request(const char* method, GVariant* parameters, const std::string& token, int ms,
                    GVariant** results) {
        *results = nullptr;
        if (stopAsking.load()) {
            g_variant_unref(g_variant_ref_sink(parameters));
            return Outcome::Stopped;
        }
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        Answer answer;
        std::string path = RequestPath(token);
        guint subscription = g_dbus_connection_signal_subscribe(
            bus, kPortal, "org.freedesktop.portal.Request", "Response", path.c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, OnResponse, &answer, nullptr);
        ++liveObjects;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, kPortal, kPath, kInterface, method, parameters, G_VARIANT_TYPE("(o)"),
            G_DBUS_CALL_FLAGS_NONE, WaitMs("VORN_PORTAL_CALL_MS", kCallMs), nullptr, &error);
        Outcome outcome = Outcome::Failed;
        if (reply == nullptr) {
            outcome = IsMissing(error) ? Outcome::NoPortal : Outcome::Failed;
            why = Describe(method, error);
        } else {
            const gchar* handle = nullptr;
            g_variant_get(reply, "(&o)", &handle);
            std::string requestPath = handle != nullptr ? handle : "";
            g_variant_unref(reply);
            bool timedOut = false;
            GSource* timeout = g_timeout_source_new(static_cast<guint>(ms));
            g_source_set_callback(timeout, OnTimeout, &timedOut, nullptr);
            g_source_attach(timeout, context);
            // Wakes the wait now and then to see whether the program stopped asking.
            GSource* poll = g_timeout_source_new(kStopPollMs);
            g_source_set_callback(
                poll, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr, nullptr);
            g_source_attach(poll, context);
            while (!answer.done && !timedOut && !stopAsking.load()) {
                g_main_context_iteration(context, TRUE);
            }
            for (GSource* wake : {timeout, poll}) {
                g_source_destroy(wake);
                g_source_unref(wake);
            }
            if (!answer.done) {
                // Nobody answered in time, or the program stopped asking: take the dialog away.
                g_dbus_connection_call_sync(
                    bus, kPortal, requestPath.c_str(), "org.freedesktop.portal.Request", "Close",
                    nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, nullptr);
                outcome = timedOut ? Outcome::Failed : Outcome::Stopped;
                if (timedOut) {
                    why = std::string(method) + ": no answer within " + std::to_string(ms) + " ms";
                }
            } else if (answer.response == 0) {
                outcome = Outcome::Started;
                *results = answer.results;
                answer.results = nullptr;
            } else {
                outcome = answer.response == 1 ? Outcome::Cancelled : Outcome::Refused;
            }
        }
        if (error != nullptr) g_error_free(error);
        if (answer.results != nullptr) g_variant_unref(answer.results);
        g_dbus_connection_signal_unsubscribe(bus, subscription);
        --liveObjects;
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
        return outcome;
    }

    // The source types asked for: a window cast asks for windows alone; a monitor cast for
    // monitors, or for whatever the portal shares when it has no monitors to offer. 0 when
    // the portal does not share this source.
    guint32 TypesToAsk(guint32 sources) const {
        if (source == Source::Window) return (sources & 2u) != 0 ? 2u : 0u;
        return (sources & 1u) != 0 ? 1u : sources;
    }

    // SelectSources on the session: this cast's source type, the cursor drawn into the picture
    // where offered, persistent permission with `restore` (none when "").
    Outcome SelectSources(const Properties& portal, guint32 types, const std::string& restore) {
        const std::string token = NextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(types));
        g_variant_builder_add(&options, "{sv}", "multiple", g_variant_new_boolean(FALSE));
        cursorMode = 0;
        if (portal.version >= 2 && portal.cursors != 0) {
            cursorMode = (portal.cursors & 2u) != 0 ? 2u : (portal.cursors & 1u) != 0 ? 1u : 0u;
            if (cursorMode != 0) {
                g_variant_builder_add(&options, "{sv}", "cursor_mode",
                                      g_variant_new_uint32(cursorMode));
            }
        }
        if (portal.version >= 4) {
            g_variant_builder_add(&options, "{sv}", "persist_mode", g_variant_new_uint32(2));
            if (!restore.empty()) {
                g_variant_builder_add(&options, "{sv}", "restore_token",
                                      g_variant_new_string(restore.c_str()));
            }
        }
        GVariant* results = nullptr;
        const Outcome outcome =
            Request("SelectSources", g_variant_new("(oa{sv})", session.c_str(), &options), token,
                    WaitMs("VORN_PORTAL_REQUEST_MS", kRequestMs), &results);
        if (results != nullptr) g_variant_unref(results);
        return outcome;
    }

    Outcome Start() {
        why.clear();
        bus = Bus::The().Connect();
        if (bus == nullptr) return Outcome::NoBus;
        Properties portal = Bus::The().Read();
        if (!portal.portal) return Outcome::NoPortal;
        const guint32 types = TypesToAsk(portal.sources);
        if (types == 0) return Outcome::NotOffered;

        GVariant* results = nullptr;
        std::string token = NextToken();
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "session_handle_token",
                              g_variant_new_string(NextToken().c_str()));
        Outcome outcome = Request("CreateSession", g_variant_new("(a{sv})", &options), token,
                                  WaitMs("VORN_PORTAL_REQUEST_MS", kRequestMs), &results);
        if (outcome != Outcome::Started) return outcome;
        const gchar* handle = nullptr;
        if (g_variant_lookup(results, "session_handle", "&s", &handle) && handle != nullptr) {
            session = handle;
            ++liveObjects;
        }
        g_variant_unref(results);
        if (session.empty()) return Outcome::Failed;

        const std::string stored = portal.version >= 4 ? ReadToken(source) : "";
        outcome = SelectSources(portal, types, stored);
        if (!stored.empty() && (outcome == Outcome::Failed || outcome == Outcome::Refused)) {
            // The portal refused the stored permission (damaged, or from another portal): it
            // goes, and the user is asked once without it.
            std::fprintf(stderr,
                         "vornplatform: the %s cast's stored permission was refused (%s); "
                         "asking without it\n",
                         SourceName(source), why.empty() ? OutcomeName(outcome) : why.c_str());
            DropToken(source);
            why.clear();
            outcome = SelectSources(portal, types, "");
        }
        if (outcome != Outcome::Started) return outcome;

        token = NextToken();
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token",
                              g_variant_new_string(token.c_str()));
        outcome = Request("Start", g_variant_new("(osa{sv})", session.c_str(), "", &options), token,
                          WaitMs("VORN_PORTAL_START_MS", kStartMs), &results);
        if (outcome != Outcome::Started) return outcome;
        int64_t node = -1;
        GVariant* streams = g_variant_lookup_value(results, "streams", G_VARIANT_TYPE("a(ua{sv})"));
        if (streams != nullptr) {
            if (g_variant_n_children(streams) > 0) {
                guint32 id = 0;
                g_variant_get_child(streams, 0, "(u@a{sv})", &id, nullptr);
                node = id;
            }
            g_variant_unref(streams);
        }
        const gchar* restore = nullptr;
        if (g_variant_lookup(results, "restore_token", "&s", &restore) && restore != nullptr &&
            *restore != '\0') {
            WriteToken(source, restore);
        }
        g_variant_unref(results);
        if (node < 0) return Outcome::Failed;

        GVariantBuilder empty;
        g_variant_builder_init(&empty, G_VARIANT_TYPE_VARDICT);
        GUnixFDList* fds = nullptr;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
            bus, kPortal, kPath, kInterface, "OpenPipeWireRemote",
            g_variant_new("(oa{sv})", session.c_str(), &empty), G_VARIANT_TYPE("(h)"),
            G_DBUS_CALL_FLAGS_NONE, WaitMs("VORN_PORTAL_CALL_MS", kCallMs), nullptr, &fds, nullptr,
            &error);
        int fd = -1;
        if (reply != nullptr && fds != nullptr) {
            gint32 index = -1;
            g_variant_get(reply, "(h)", &index);
            fd = g_unix_fd_list_get(fds, index, nullptr);  // a duplicate, ours to close
        }
        if (reply != nullptr) g_variant_unref(reply);
        if (fds != nullptr) g_object_unref(fds);
        if (error != nullptr) g_error_free(error);
        if (fd < 0) return Outcome::Failed;
        stream = pipewire::VideoStream::Open(
            fd, node, source == Source::Window ? "vorn-window" : "vorn-screen");
        return stream ? Outcome::Started : Outcome::Failed;
    }

    void CloseSession() {
        stream.reset();
        Publish();
        if (session.empty() || bus == nullptr) return;
        GVariant* reply = g_dbus_connection_call_sync(
            bus, kPortal, session.c_str(), "org.freedesktop.portal.Session", "Close", nullptr,
            nullptr, G_DBUS_CALL_FLAGS_NONE, WaitMs("VORN_PORTAL_CALL_MS", kCallMs), nullptr,
            nullptr);
        if (reply != nullptr) g_variant_unref(reply);
        session.clear();
        --liveObjects;
    }

    // Starts a cast on a thread of its own; under `mutex`, with no start under way.
    void Launch() {
        starting = true;
        try {
            std::thread([this] { Run(); }).detach();
        } catch (const std::system_error& error) {
            starting = false;
            outcome = Outcome::Failed;
            pause.Failed();
            std::fprintf(stderr, "vornplatform: %s cast not started: no thread for it (%s)\n",
                         SourceName(source), error.what());
        }
    }

    // The starting thread's body: the start, then its outcome made known.
    void Run() {
        const Outcome result = Start();
        std::lock_guard<std::mutex> lock(mutex);
        outcome = result;
        if (result == Outcome::Started) {
            pause.Clear();
            Publish();
        } else {
            CloseSession();
            pause.Failed();
            if (result != Outcome::Stopped) {
                std::fprintf(stderr, "vornplatform: %s cast not started: %s%s%s%s\n",
                             SourceName(source), OutcomeName(result), why.empty() ? "" : " (",
                             why.c_str(), why.empty() ? "" : ")");
            }
        }
        starting = false;
        settled.notify_all();
    }

    // Waits for a start under way to end.
    void Settle() {
        std::unique_lock<std::mutex> lock(mutex);
        settled.wait(lock, [this] { return !starting; });
    }

    // Ends the cast and forgets the connection (closed by the caller) and every failure.
    void Forget() {
        CloseSession();
        bus = nullptr;
        pause.Clear();
        outcome = Outcome::None;
        cursorMode = 0;
    }
};

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::None:
            return "none";
        case Outcome::Started:
            return "started";
        case Outcome::Cancelled:
            return "cancelled";
        case Outcome::Refused:
            return "refused";
        case Outcome::NoBus:
            return "no session bus";
        case Outcome::NoPortal:
            return "no ScreenCast portal";
        case Outcome::Failed:
            return "failed";
        case Outcome::Ended:
            return "ended";
        case Outcome::NotOffered:
            return "source type not offered";
        case Outcome::Stopped:
            return "stopped";
    }
    return "?";
}

ScreenCast::ScreenCast(Source source) : impl_(new Impl(source)) {}

ScreenCast& ScreenCast::The(Source source) {
    // Each lives as long as the process.
    static ScreenCast* monitor = new ScreenCast(Source::Monitor);
    static ScreenCast* window = new ScreenCast(Source::Window);
    return source == Source::Window ? *window : *monitor;
}

bool ScreenCast::Offers(Source source) {
    return (Bus::The().Read().sources & static_cast<guint32>(source)) != 0;
}

std::shared_ptr<pipewire::VideoStream> ScreenCast::Stream(int waitMs) {
    Impl& s = *impl_;
    std::unique_lock<std::mutex> lock(s.mutex);
    if (!s.starting) {
        if (s.stream && !s.stream->Ended()) return s.stream;
        if (s.stream) {
            // Sharing stopped: the session is over too.
            s.CloseSession();
            s.outcome = Outcome::Ended;
            s.pause.Failed();
        }
        if (!s.pause.Over(UserSaidNo(s.outcome))) return nullptr;
        if (stopAsking.load()) {
            s.outcome = Outcome::Stopped;
            return nullptr;
        }
        s.Launch();
    }
    const auto ended = [&s] { return !s.starting; };
    if (waitMs < 0) {
        s.settled.wait(lock, ended);
    } else if (!s.settled.wait_for(lock, std::chrono::milliseconds(waitMs), ended)) {
        return nullptr;
    }
    return s.outcome == Outcome::Started ? s.stream : nullptr;
}

std::shared_ptr<pipewire::VideoStream> ScreenCast::Running() {
    std::lock_guard<std::mutex> lock(impl_->publishedMutex);
    auto& stream = impl_->published;
    return stream && !stream->Ended() ? stream : nullptr;
}

Outcome ScreenCast::LastOutcome() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->outcome;
}

unsigned ScreenCast::CursorMode() {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    impl_->settled.wait(lock, [this] { return !impl_->starting; });
    return impl_->cursorMode;
}

void ScreenCast::Reset() {
    Impl& monitor = *The(Source::Monitor).impl_;
    Impl& window = *The(Source::Window).impl_;
    // A start under way is closed and waited for; none begins until both casts are forgotten.
    stopAsking = true;
    monitor.Settle();
    window.Settle();
    {
        // Both casts are held while the connection closes: neither is asking the portal then.
        std::lock_guard<std::mutex> monitorLock(monitor.mutex);
        std::lock_guard<std::mutex> windowLock(window.mutex);
        monitor.Forget();
        window.Forget();
        Bus::The().Close();
    }
    stopAsking = false;
}

void StopAsking() { stopAsking = true; }

std::string TokenPath(Source source) {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state != nullptr && *state == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/state";
    }
    return base + (source == Source::Window ? "/vornmediacapture/screencast-window.token"
                                            : "/vornmediacapture/screencast.token");
}

long LiveObjects() { return liveObjects.load(); }

}  // namespace portal
}  // namespace host
}  // namespace VornWorld
