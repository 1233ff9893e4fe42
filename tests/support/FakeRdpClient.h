// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RdpClient.h"
#include "SessionMessages.h"
#include "SessionView.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vandrelle::test {

// A put that is only recorded, and a property whose get gives what its put set.
#define VANDRELLE_FAKE_PUT(Name, Type) \
    void put_##Name(Type v) override { \
        Record("put_" #Name, v);       \
    }
#define VANDRELLE_FAKE_PROPERTY(Name, Type, field) \
    Type get_##Name() override {                   \
        return field;                              \
    }                                              \
    void put_##Name(Type v) override {             \
        Record("put_" #Name, field = v);           \
    }

// An RDP client for tests: records every property put and method call in
// order with its value, can refuse the Server put or Connect, and lets a test
// fire each event.
class FakeRdpClient : public RdpClient,
                      public RdpClient5,
                      public RdpClient6,
                      public RdpClientNonScriptable3 {
public:
    struct Call {
        std::string name;
        std::string value;
    };
    // A local drive; its state stays unset until the session sets it.
    struct Drive : RdpDrive {
        explicit Drive(std::string n) : name(std::move(n)) {}
        std::string get_Name() const override { return name; }
        void put_RedirectionState(VariantBool v) override { state = v; }
        std::string name;
        std::optional<VariantBool> state;
    };

    // Configuration; the four values a get reads are also set by their put.
    std::optional<RdpError> serverPutFailure;
    std::optional<HResult> connectFailure;
    VariantBool fullScreen = VariantBool::False;
    VariantBool dynamicDrives = VariantBool::False;
    std::int32_t performanceFlags = 0;
    std::int32_t extendedReason = 0;
    std::string errorDescription = "The engine's description.";
    std::deque<Drive> drives;

    // What happened.
    std::vector<Call> calls;
    RdpClientEvents* sink = nullptr;

    // Calls of that name, in order, as their values.
    std::vector<std::string> Values(const std::string& name) const {
        std::vector<std::string> values;
        for (const Call& c : calls)
            if (c.name == name) values.push_back(c.value);
        return values;
    }
    // The same, joined by commas.
    std::string Sent(const std::string& name) const {
        std::string out;
        for (const std::string& v : Values(name)) out += (out.empty() ? "" : ",") + v;
        return out;
    }
    // Every call as "name=value", in order, each followed by a space.
    std::string Trace() const {
        std::string trace;
        for (const Call& c : calls) trace += c.name + "=" + c.value + " ";
        return trace;
    }
    bool Called(const std::string& name) const { return !Values(name).empty(); }

    void FireConnecting() { sink->OnConnecting(); }
    void FireConnected() { sink->OnConnected(); }
    void FireDisconnected(std::int32_t reason) { sink->OnDisconnected(reason); }

    void SetEventSink(RdpClientEvents* s) override { sink = s; }
    void put_Server(const std::string& v) override {
        Record("put_Server", v);
        if (serverPutFailure) throw *serverPutFailure;
    }
    void Connect() override {
        Record("Connect", "");
        if (connectFailure) throw RdpError(*connectFailure);
    }
    void Disconnect() override { Record("Disconnect", ""); }
    VANDRELLE_FAKE_PUT(UserName, const std::string&)
    VANDRELLE_FAKE_PUT(Domain, const std::string&)
    VANDRELLE_FAKE_PUT(DisconnectedText, const std::string&)
    VANDRELLE_FAKE_PUT(DesktopWidth, std::int32_t)
    VANDRELLE_FAKE_PUT(DesktopHeight, std::int32_t)
    VANDRELLE_FAKE_PUT(PluginDlls, const std::string&)
    VANDRELLE_FAKE_PUT(ContainerHandledFullScreen, std::int32_t)
    VANDRELLE_FAKE_PUT(ColorDepth, std::int32_t)
    VANDRELLE_FAKE_PUT(ClearTextPassword, const std::string&)
    VANDRELLE_FAKE_PUT(RDPPort, std::int32_t)
    VANDRELLE_FAKE_PUT(ConnectToServerConsole, VariantBool)
    VANDRELLE_FAKE_PUT(BitmapPersistence, std::int32_t)
    VANDRELLE_FAKE_PUT(RedirectPrinters, VariantBool)
    VANDRELLE_FAKE_PUT(RedirectPorts, VariantBool)
    VANDRELLE_FAKE_PUT(RedirectSmartCards, VariantBool)
    VANDRELLE_FAKE_PUT(RedirectDrives, VariantBool)
    VANDRELLE_FAKE_PUT(AudioRedirectionMode, std::int32_t)
    VANDRELLE_FAKE_PUT(KeyboardHookMode, std::int32_t)
    VANDRELLE_FAKE_PUT(RedirectClipboard, VariantBool)
    VANDRELLE_FAKE_PUT(ConnectToAdministerServer, VariantBool)
    VANDRELLE_FAKE_PUT(EnableCredSspSupport, VariantBool)
    VANDRELLE_FAKE_PROPERTY(FullScreen, VariantBool, fullScreen)
    VANDRELLE_FAKE_PROPERTY(PerformanceFlags, std::int32_t, performanceFlags)
    VANDRELLE_FAKE_PROPERTY(RedirectDynamicDrives, VariantBool, dynamicDrives)
    std::int32_t get_ExtendedDisconnectReason() override { return extendedReason; }
    std::uint32_t get_DriveCount() override { return static_cast<std::uint32_t>(drives.size()); }
    RdpDrive& DriveByIndex(std::uint32_t index) override { return drives.at(index); }
    std::string GetErrorDescription(std::uint32_t reason, std::uint32_t extended) override {
        Record("GetErrorDescription", std::to_string(reason) + "," + std::to_string(extended));
        return errorDescription;
    }
    void NotifyRedirectDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) override {
        Record("NotifyRedirectDeviceChange", std::to_string(wParam) + "," + std::to_string(lParam));
    }
    RdpClient5* AsClient5() override { return this; }
    RdpClient6* AsClient6() override { return this; }
    RdpClientNonScriptable3* AsNonScriptable3() override { return this; }

    void Record(const std::string& n, const std::string& v) { calls.push_back({n, v}); }
    void Record(const std::string& n, std::int64_t v) { Record(n, std::to_string(v)); }
    void Record(const std::string& n, VariantBool v) { Record(n, static_cast<std::int64_t>(v)); }
};

#undef VANDRELLE_FAKE_PUT
#undef VANDRELLE_FAKE_PROPERTY

// The session window for tests: fixed sizes, recorded requests.
class FakeSessionView : public SessionView {
public:
    bool shiftDown = false;
    bool containerFullScreen = false;
    std::vector<std::string> errors;
    std::vector<std::string> events;  // "enter", "leave", "relayout"
    // Each message posted to itself, with its delay.
    struct Post {
        std::uint32_t message;
        int ms;
        std::uintptr_t wParam;
    };
    std::vector<Post> selfPosts;

    Size ClientSize() const override { return {1000, 700}; }
    Size PrimaryScreenSize() const override { return {1920, 1080}; }
    void EnterContainerFullScreen() override { Event("enter", true); }
    void LeaveContainerFullScreen() override { Event("leave", false); }
    bool IsContainerFullScreen() const override { return containerFullScreen; }
    void Relayout() override { events.push_back("relayout"); }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void PostToSelf(std::uint32_t message, int ms, std::uintptr_t wParam) override {
        selfPosts.push_back({message, ms, wParam});
        if (onPost) onPost(message, ms, wParam);
    }
    std::function<void(std::uint32_t, int, std::uintptr_t)> onPost;
    bool IsShiftDown() const override { return shiftDown; }
    std::intptr_t WindowId() const override { return 4242; }
    void Event(const std::string& name, bool fullScreen) {
        events.push_back(name);
        containerFullScreen = fullScreen;
    }
};

// The main frame for tests: records what it is posted.
class FakeFrame : public MessageTarget {
public:
    struct Message {
        std::uint32_t message;
        std::uintptr_t wParam;
        std::intptr_t lParam;
        friend bool operator==(const Message&, const Message&) = default;
    };
    std::vector<Message> posted;
    void Post(std::uint32_t m, std::uintptr_t w, std::intptr_t l) override {
        posted.push_back({m, w, l});
    }
    std::intptr_t Send(std::uint32_t, std::uintptr_t, std::intptr_t) override { return 0; }
};

}  // namespace vandrelle::test
