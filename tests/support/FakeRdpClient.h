// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RdpClient.h"
#include "SessionMessages.h"
#include "SessionView.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vandrelle::test {

// An RDP client for tests: records every property put, property get and
// method call in order with its value, can refuse the Server put, can lack
// any optional capability, and lets a test fire each event.
class FakeRdpClient : public RdpClient,
                      public RdpClient5,
                      public RdpClient6,
                      public RdpClientNonScriptable3 {
public:
    struct Call {
        std::string name;
        std::string value;
        friend bool operator==(const Call&, const Call&) = default;
    };

    class Drive : public RdpDrive {
    public:
        Drive(FakeRdpClient& owner, std::string name) : m_owner(owner), m_name(std::move(name)) {}
        std::string get_Name() const override { return m_name; }
        void put_RedirectionState(VariantBool value) override {
            state = value;
            m_owner.Record("put_RedirectionState(" + m_name + ")", value);
        }
        std::optional<VariantBool> state;

    private:
        FakeRdpClient& m_owner;
        std::string m_name;
    };

    // Configuration.
    std::optional<HResult> serverPutFailure;
    std::string serverPutFailureText;  // the engine's own text, if any
    std::optional<HResult> connectFailure;
    bool has5 = true;
    bool has6 = true;
    bool hasNonScriptable3 = true;
    VariantBool fullScreen = VariantBool::False;
    std::int32_t performanceFlags = 0;
    std::int32_t extendedReason = 0;
    VariantBool dynamicDrives = VariantBool::False;
    std::string errorDescription = "The engine's description.";
    std::vector<std::unique_ptr<Drive>> drives;
    void AddDrive(const std::string& name) {
        drives.push_back(std::make_unique<Drive>(*this, name));
    }

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
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const Call& c : calls) names.push_back(c.name);
        return names;
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

    // RdpClient
    void SetEventSink(RdpClientEvents* s) override { sink = s; }
    void put_Server(const std::string& value) override {
        Record("put_Server", value);
        if (serverPutFailure) throw RdpError(*serverPutFailure, serverPutFailureText);
    }
    void put_UserName(const std::string& v) override { Record("put_UserName", v); }
    void put_Domain(const std::string& v) override { Record("put_Domain", v); }
    void put_DisconnectedText(const std::string& v) override { Record("put_DisconnectedText", v); }
    void put_DesktopWidth(std::int32_t v) override { Record("put_DesktopWidth", v); }
    void put_DesktopHeight(std::int32_t v) override { Record("put_DesktopHeight", v); }
    void Connect() override {
        Record("Connect", "");
        if (connectFailure) throw RdpError(*connectFailure);
    }
    void Disconnect() override { Record("Disconnect", ""); }
    void put_PluginDlls(const std::string& v) override { Record("put_PluginDlls", v); }
    void put_ContainerHandledFullScreen(std::int32_t v) override {
        Record("put_ContainerHandledFullScreen", v);
    }
    void put_ColorDepth(std::int32_t v) override { Record("put_ColorDepth", v); }
    VariantBool get_FullScreen() override { return Got("get_FullScreen", fullScreen); }
    void put_FullScreen(VariantBool v) override { Put("put_FullScreen", fullScreen, v); }
    std::int32_t get_ExtendedDisconnectReason() override {
        return Got("get_ExtendedDisconnectReason", extendedReason);
    }
    void put_ClearTextPassword(const std::string& v) override {
        Record("put_ClearTextPassword", v);
    }
    void put_RDPPort(std::int32_t v) override { Record("put_RDPPort", v); }
    void put_ConnectToServerConsole(VariantBool v) override {
        Record("put_ConnectToServerConsole", v);
    }
    void put_BitmapPersistence(std::int32_t v) override { Record("put_BitmapPersistence", v); }
    void put_RedirectPrinters(VariantBool v) override { Record("put_RedirectPrinters", v); }
    void put_RedirectPorts(VariantBool v) override { Record("put_RedirectPorts", v); }
    void put_RedirectSmartCards(VariantBool v) override { Record("put_RedirectSmartCards", v); }
    void put_RedirectDrives(VariantBool v) override { Record("put_RedirectDrives", v); }
    std::int32_t get_PerformanceFlags() override {
        return Got("get_PerformanceFlags", performanceFlags);
    }
    void put_PerformanceFlags(std::int32_t v) override {
        Put("put_PerformanceFlags", performanceFlags, v);
    }
    void put_AudioRedirectionMode(std::int32_t v) override {
        Record("put_AudioRedirectionMode", v);
    }
    void put_KeyboardHookMode(std::int32_t v) override { Record("put_KeyboardHookMode", v); }
    RdpClient5* AsClient5() override { return has5 ? this : nullptr; }
    RdpClient6* AsClient6() override { return has6 ? this : nullptr; }
    RdpClientNonScriptable3* AsNonScriptable3() override {
        return hasNonScriptable3 ? this : nullptr;
    }

    // RdpClient5
    void put_RedirectClipboard(VariantBool v) override { Record("put_RedirectClipboard", v); }
    std::string GetErrorDescription(std::uint32_t reason, std::uint32_t extended) override {
        Record("GetErrorDescription", std::to_string(reason) + "," + std::to_string(extended));
        return errorDescription;
    }

    // RdpClient6
    void put_ConnectToAdministerServer(VariantBool v) override {
        Record("put_ConnectToAdministerServer", v);
    }

    // RdpClientNonScriptable3
    void put_EnableCredSspSupport(VariantBool v) override { Record("put_EnableCredSspSupport", v); }
    VariantBool get_RedirectDynamicDrives() override {
        return Got("get_RedirectDynamicDrives", dynamicDrives);
    }
    void put_RedirectDynamicDrives(VariantBool v) override {
        Put("put_RedirectDynamicDrives", dynamicDrives, v);
    }
    std::uint32_t get_DriveCount() override {
        return Got("get_DriveCount", static_cast<std::uint32_t>(drives.size()));
    }
    RdpDrive& DriveByIndex(std::uint32_t index) override { return *drives.at(index); }
    void NotifyRedirectDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) override {
        Record("NotifyRedirectDeviceChange", std::to_string(wParam) + "," + std::to_string(lParam));
    }

    void Record(const std::string& n, const std::string& v) { calls.push_back({n, v}); }
    void Record(const std::string& n, std::int64_t v) { Record(n, std::to_string(v)); }
    void Record(const std::string& n, VariantBool v) { Record(n, static_cast<std::int64_t>(v)); }
    // A get or put that is recorded and reads or sets the configured value.
    template <typename T>
    T Got(const std::string& name, T value) {
        Record(name, static_cast<std::int64_t>(value));
        return value;
    }
    template <typename T>
    void Put(const std::string& name, T& field, T value) {
        Record(name, static_cast<std::int64_t>(value));
        field = value;
    }
};

// The session window for tests: fixed sizes, recorded requests.
class FakeSessionView : public SessionView {
public:
    Size clientSize{1000, 700};
    Size screenSize{1920, 1080};
    bool shiftDown = false;
    bool containerFullScreen = false;

    std::vector<std::string> errors;
    std::vector<std::string> events;  // "enter", "leave", "relayout"
    struct SelfPost {
        std::uint32_t message;
        int delayMs;
        std::uintptr_t wParam;
    };
    std::vector<SelfPost> selfPosts;

    Size ClientSize() const override { return clientSize; }
    Size PrimaryScreenSize() const override { return screenSize; }
    void EnterContainerFullScreen() override {
        events.push_back("enter");
        containerFullScreen = true;
    }
    void LeaveContainerFullScreen() override {
        events.push_back("leave");
        containerFullScreen = false;
    }
    bool IsContainerFullScreen() const override { return containerFullScreen; }
    void Relayout() override { events.push_back("relayout"); }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    void PostToSelf(std::uint32_t message, int delayMs, std::uintptr_t wParam) override {
        selfPosts.push_back({message, delayMs, wParam});
    }
    bool IsShiftDown() const override { return shiftDown; }
    std::intptr_t WindowId() const override { return 4242; }
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
