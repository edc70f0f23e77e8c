#include "tests/support/fake_port.h"

void FakePort::check(Op op) const {
    const auto it = failures_.find(op);
    if (it != failures_.end() && (it->second.second == 0 || it->second.second == commPort_)) {
        throw serial::SerialError(it->second.first);
    }
}

void FakePort::failOn(Op op, std::string description, int onPort) {
    failures_[op] = {std::move(description), onPort};
}

void FakePort::setCommPort(int n) {
    check(Op::SetCommPort);
    if (open_) throw serial::SerialError("Port already open");
    commPort_ = n;
    log.push_back("port " + std::to_string(n));
}

void FakePort::setSettings(const std::string& settings) {
    check(Op::SetSettings);
    settings_ = settings;
    log.push_back("settings " + settings);
}

void FakePort::setPortOpen(bool open) {
    if (open) {
        check(Op::Open);
        if (open_) throw serial::SerialError("Port already open");
        open_ = true;
        log.push_back("open " + std::to_string(commPort_));
    } else {
        check(Op::Close);
        if (!open_) return;
        open_ = false;
        log.push_back("close");
    }
}

void FakePort::output(const std::string& bytes) {
    check(Op::Output);
    if (!open_) throw serial::SerialError("Port is not open");
    written += bytes;
    writes.push_back(bytes);
}

std::string FakePort::input() {
    std::string all;
    all.swap(waiting_);
    return all;
}

void FakePort::receive(const std::string& bytes) {
    waiting_ += bytes;
    commEvent_ = kEventReceive;
    if (onComm) onComm();
}

void FakePort::raiseEvent(int kind) {
    commEvent_ = kind;
    if (onComm) onComm();
}
