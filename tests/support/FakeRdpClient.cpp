// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeRdpClient.h"

namespace vandrelle::test {

void FakeRdpClient::Drive::put_RedirectionState(VariantBool value) {
    state = value;
    m_owner.Record("put_RedirectionState(" + m_name + ")", value);
}

std::vector<std::string> FakeRdpClient::Values(const std::string& name) const {
    std::vector<std::string> values;
    for (const Call& c : calls) {
        if (c.name == name) values.push_back(c.value);
    }
    return values;
}

std::vector<std::string> FakeRdpClient::Names() const {
    std::vector<std::string> names;
    for (const Call& c : calls) names.push_back(c.name);
    return names;
}

std::string FakeRdpClient::Trace() const {
    std::string trace;
    for (const Call& c : calls) trace += c.name + "=" + c.value + " ";
    return trace;
}

void FakeRdpClient::put_Server(const std::string& value) {
    Record("put_Server", value);
    if (serverPutFailure) throw RdpError(*serverPutFailure, serverPutFailureText);
}

void FakeRdpClient::Connect() {
    Record("Connect", "");
    if (connectFailure) throw RdpError(*connectFailure);
}

VariantBool FakeRdpClient::get_FullScreen() {
    Record("get_FullScreen", fullScreen);
    return fullScreen;
}

void FakeRdpClient::put_FullScreen(VariantBool v) {
    Record("put_FullScreen", v);
    fullScreen = v;
}

std::int32_t FakeRdpClient::get_ExtendedDisconnectReason() {
    Record("get_ExtendedDisconnectReason", extendedReason);
    return extendedReason;
}

std::int32_t FakeRdpClient::get_PerformanceFlags() {
    Record("get_PerformanceFlags", performanceFlags);
    return performanceFlags;
}

void FakeRdpClient::put_PerformanceFlags(std::int32_t v) {
    Record("put_PerformanceFlags", v);
    performanceFlags = v;
}

std::string FakeRdpClient::GetErrorDescription(std::uint32_t reason, std::uint32_t extended) {
    Record("GetErrorDescription", std::to_string(reason) + "," + std::to_string(extended));
    return errorDescription;
}

VariantBool FakeRdpClient::get_RedirectDynamicDrives() {
    Record("get_RedirectDynamicDrives", dynamicDrives);
    return dynamicDrives;
}

void FakeRdpClient::put_RedirectDynamicDrives(VariantBool v) {
    Record("put_RedirectDynamicDrives", v);
    dynamicDrives = v;
}

std::uint32_t FakeRdpClient::get_DriveCount() {
    Record("get_DriveCount", static_cast<std::int64_t>(drives.size()));
    return static_cast<std::uint32_t>(drives.size());
}

RdpDrive& FakeRdpClient::DriveByIndex(std::uint32_t index) {
    return *drives.at(index);
}

void FakeRdpClient::NotifyRedirectDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
    Record("NotifyRedirectDeviceChange", std::to_string(wParam) + "," + std::to_string(lParam));
}

void FakeSessionView::EnterContainerFullScreen() {
    events.push_back("enter");
    containerFullScreen = true;
}

void FakeSessionView::LeaveContainerFullScreen() {
    events.push_back("leave");
    containerFullScreen = false;
}

}  // namespace vandrelle::test
