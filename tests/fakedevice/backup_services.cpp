// The backup service ("com.apple.mobilebackup2") run from a script, and the installation
// proxy's application list.
#include "internal.h"

#include <cstring>

namespace fakedevice {

namespace {

constexpr uint32_t kMaxFrame = 64u << 20;
constexpr uint32_t kMaxName = 4096;
constexpr uint32_t kMaxBlock = 64u << 20;
constexpr size_t kUploadChunk = 32768;

bool recvPlistFrame(int fd, std::string* body) {
    unsigned char len[4];
    if (!recvFull(fd, len, 4))
        return false;
    const uint32_t n = getBe32(len);
    if (n == 0 || n > kMaxFrame)
        return false;
    body->assign(n, '\0');
    return recvFull(fd, &(*body)[0], n);
}

bool sendPlistFrame(int fd, const std::string& body) {
    std::string out;
    putBe32(out, static_cast<uint32_t>(body.size()));
    out += body;
    return sendFull(fd, out.data(), out.size());
}

Plist parseBody(const std::string& body) {
    return parseFrame(body);
}

std::string arrayName(const Plist& msg) {
    if (msg.type() != PLIST_ARRAY || plist_array_get_size(msg.get()) == 0)
        return std::string();
    return plistString(plist_array_get_item(msg.get(), 0));
}

Plist dlProcessMessage(Plist dict) {
    return plistArrayOf({Plist::string("DLMessageProcessMessage"), std::move(dict)});
}

}  // namespace

// ---- BackupScript --------------------------------------------------------------------------

std::string BackupScript::be32(uint32_t v) {
    std::string out;
    putBe32(out, v);
    return out;
}

std::string BackupScript::nameFrame(const std::string& name) {
    return be32(static_cast<uint32_t>(name.size())) + name;
}

std::string BackupScript::block(char code, const std::string& payload) {
    return be32(static_cast<uint32_t>(payload.size() + 1)) + std::string(1, code) + payload;
}

BackupScript& BackupScript::message(Plist array) {
    BackupStep s;
    s.kind = BackupStep::Kind::Message;
    s.message = std::move(array);
    steps.push_back(std::move(s));
    return *this;
}

BackupScript& BackupScript::ask(Plist array) {
    message(std::move(array));
    return readStatus();
}

BackupScript& BackupScript::raw(const std::string& bytes) {
    BackupStep s;
    s.kind = BackupStep::Kind::Raw;
    s.bytes = bytes;
    steps.push_back(std::move(s));
    return *this;
}

BackupScript& BackupScript::readStatus() {
    BackupStep s;
    s.kind = BackupStep::Kind::ReadStatus;
    steps.push_back(std::move(s));
    return *this;
}

BackupScript& BackupScript::drop() {
    BackupStep s;
    s.kind = BackupStep::Kind::Drop;
    steps.push_back(std::move(s));
    return *this;
}

BackupScript& BackupScript::upload(const std::vector<BackupUpload>& files, double progress) {
    uint64_t total = 0;
    std::string bytes;
    for (const BackupUpload& f : files) {
        total += f.data.size();
        bytes += nameFrame(f.deviceName) + nameFrame(f.path);
        for (size_t off = 0; off < f.data.size(); off += kUploadChunk)
            bytes += block(0x0C, f.data.substr(off, kUploadChunk));
        bytes += block(0x00);
    }
    bytes += be32(0);
    message(plistArrayOf({Plist::string("DLMessageUploadFiles"), Plist::dict(),
                          Plist(plist_new_real(progress)), plistUintNode(total)}));
    raw(bytes);
    return readStatus();
}

BackupScript& BackupScript::download(const std::vector<std::string>& paths, double progress) {
    Plist list = Plist::array();
    for (const std::string& p : paths)
        list.append(Plist::string(p));
    message(plistArrayOf({Plist::string("DLMessageDownloadFiles"), std::move(list), Plist::dict(),
                          Plist(plist_new_real(progress))}));
    BackupStep s;
    s.kind = BackupStep::Kind::ReadDownload;
    steps.push_back(std::move(s));
    return readStatus();
}

BackupScript& BackupScript::finish(int64_t errorCode, const std::string& description) {
    Plist d = Plist::dict();
    d.set("ErrorCode", plistUintNode(static_cast<uint64_t>(errorCode)));
    if (!description.empty())
        d.set("ErrorDescription", Plist::string(description));
    return message(dlProcessMessage(std::move(d)));
}

BackupScript& BackupScript::disconnect() {
    return message(
        plistArrayOf({Plist::string("DLMessageDisconnect"), Plist::string(kEmptyParameter)}));
}

// ---- Phone ---------------------------------------------------------------------------------

void Phone::setBackupScript(const BackupScript& script) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->backupScript = script;
}

std::vector<BackupSession> Phone::backupSessions() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->backupSessions;
}

bool Phone::waitForBackupEnd(std::chrono::milliseconds timeout, size_t sessions) const {
    std::unique_lock<std::mutex> lock(state_->mu);
    return state_->cv.wait_for(lock, timeout, [&] {
        size_t n = 0;
        for (const BackupSession& s : state_->backupSessions)
            n += s.ended ? 1 : 0;
        return n >= sessions;
    });
}

void Phone::setInstalledApps(const Plist& apps) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->installedApps = apps;
}

// ---- the service ---------------------------------------------------------------------------

void serveBackup(ConnContext& c) {
    Phone& phone = *c.phone;
    Phone::State& st = phone.state();
    size_t index = 0;
    BackupScript script;
    {
        std::lock_guard<std::mutex> lock(st.mu);
        BackupSession s;
        s.connection = c.id;
        st.backupSessions.push_back(s);
        index = st.backupSessions.size() - 1;
        script = st.backupScript;
    }
    auto update = [&](const std::function<void(BackupSession&)>& f) {
        std::lock_guard<std::mutex> lock(st.mu);
        if (index < st.backupSessions.size())
            f(st.backupSessions[index]);
        st.cv.notify_all();
    };
    struct EndMark {
        std::function<void()> done;
        ~EndMark() { done(); }
    } endMark{[&] { update([](BackupSession& s) { s.ended = true; }); }};

    auto send = [&](const Plist& msg) {
        if (!sendPlistFrame(c.fd, msg.toBinary()))
            return false;
        journalAdd(phone, journalEntry(c, kServiceBackup, arrayName(msg), false));
        return true;
    };
    // Receives one device-link message from the host; false on EOF or a malformed frame.
    auto receive = [&](Plist* msg, std::string* name) {
        std::string body;
        if (!recvPlistFrame(c.fd, &body))
            return false;
        *msg = parseBody(body);
        *name = arrayName(*msg);
        JournalEntry e = journalEntry(c, kServiceBackup, name->empty() ? "(invalid)" : *name, true);
        e.xml = msg->toXml();
        journalAdd(phone, e);
        return !name->empty();
    };
    auto processDict = [](const Plist& msg) -> plist_t {
        plist_t d = plist_array_get_item(msg.get(), 1);
        return d && plist_get_node_type(d) == PLIST_DICT ? d : nullptr;
    };

    // Device-link version exchange; 300 suits both the installed client and upstream.
    if (!send(plistArrayOf(
            {Plist::string("DLMessageVersionExchange"), plistUintNode(300), plistUintNode(0)})))
        return;
    Plist msg;
    std::string name;
    if (!receive(&msg, &name) || name != "DLMessageVersionExchange" ||
        plistString(plist_array_get_item(msg.get(), 1)) != "DLVersionsOk")
        return;
    if (!send(plistArrayOf({Plist::string("DLMessageDeviceReady")})))
        return;

    // Hello and the protocol version.
    if (!receive(&msg, &name) || name != "DLMessageProcessMessage")
        return;
    plist_t hello = processDict(msg);
    if (!hello || plistString(plist_dict_get_item(hello, "MessageName")) != "Hello")
        return;
    std::vector<double> versions;
    if (plist_t list = plist_dict_get_item(hello, "SupportedProtocolVersions")) {
        for (uint32_t i = 0; i < plist_array_get_size(list); ++i) {
            double v = 0;
            plist_get_real_val(plist_array_get_item(list, i), &v);
            versions.push_back(v);
        }
    }
    update([&](BackupSession& s) {
        s.hello = true;
        s.helloVersions = versions;
    });
    Plist response = Plist::dict();
    response.set("MessageName", Plist::string("Response"));
    response.set("ErrorCode", plistUintNode(0));
    response.set("ProtocolVersion", Plist(plist_new_real(2.1)));
    if (!send(dlProcessMessage(std::move(response))))
        return;

    // The host's request.
    if (!receive(&msg, &name) || name != "DLMessageProcessMessage")
        return;
    plist_t request = processDict(msg);
    if (!request)
        return;
    const std::string requestName = plistString(plist_dict_get_item(request, "MessageName"));
    Plist requestCopy = Plist::copyOf(request);
    update([&](BackupSession& s) {
        s.request = requestName;
        s.requestDict = requestCopy;
    });

    for (const BackupStep& step : script.steps) {
        switch (step.kind) {
            case BackupStep::Kind::Message:
                if (!send(step.message))
                    return;
                break;
            case BackupStep::Kind::Raw:
                if (!sendFull(c.fd, step.bytes.data(), step.bytes.size()))
                    return;
                break;
            case BackupStep::Kind::ReadStatus: {
                if (!receive(&msg, &name) || name != "DLMessageStatusResponse")
                    return;
                Plist status = msg;
                update([&](BackupSession& s) { s.statuses.push_back(status); });
                break;
            }
            case BackupStep::Kind::ReadDownload:
                for (;;) {
                    unsigned char word[4];
                    if (!recvFull(c.fd, word, 4))
                        return;
                    const uint32_t n = getBe32(word);
                    if (n == 0)
                        break;
                    if (n > kMaxName)
                        return;
                    BackupDownload d;
                    d.path.assign(n, '\0');
                    if (!recvFull(c.fd, &d.path[0], n))
                        return;
                    for (;;) {
                        if (!recvFull(c.fd, word, 4))
                            return;
                        const uint32_t k = getBe32(word);
                        if (k == 0 || k > kMaxBlock)
                            return;
                        std::string blockBytes(k, '\0');
                        if (!recvFull(c.fd, &blockBytes[0], k))
                            return;
                        const char code = blockBytes[0];
                        if (code == 0x0C) {
                            d.data.append(blockBytes, 1, std::string::npos);
                        } else if (code == 0x00) {
                            break;
                        } else if (code == 0x06) {
                            d.failed = true;
                            d.errorText = blockBytes.substr(1);
                            break;
                        } else {
                            return;
                        }
                    }
                    update([&](BackupSession& s) { s.downloads.push_back(d); });
                }
                break;
            case BackupStep::Kind::Drop:
                return;
        }
    }
    update([](BackupSession& s) { s.scriptDone = true; });

    // The host ends the session: DLMessageDisconnect, then it closes.
    while (receive(&msg, &name)) {
        if (name == "DLMessageDisconnect") {
            update([](BackupSession& s) { s.disconnected = true; });
            return;
        }
    }
}

void serveInstProxy(ConnContext& c) {
    Phone& phone = *c.phone;
    Phone::State& st = phone.state();
    for (;;) {
        std::string body;
        if (!recvPlistFrame(c.fd, &body))
            return;
        Plist req = parseBody(body);
        const std::string command = req.stringAt("Command");
        JournalEntry e =
            journalEntry(c, kServiceInstProxy, command.empty() ? "(invalid)" : command, true);
        e.xml = req.toXml();
        journalAdd(phone, e);
        if (command != "Browse")
            return;
        Plist apps;
        {
            std::lock_guard<std::mutex> lock(st.mu);
            apps = st.installedApps ? st.installedApps : Plist::array();
        }
        const uint64_t n = plist_array_get_size(apps.get());
        if (n > 0) {
            Plist page = Plist::dict();
            page.set("Status", Plist::string("BrowsingApplications"));
            page.set("CurrentList", apps);
            page.set("CurrentIndex", plistUintNode(0));
            page.set("CurrentAmount", plistUintNode(n));
            page.set("Total", plistUintNode(n));
            if (!sendPlistFrame(c.fd, page.toXml()))
                return;
        }
        Plist done = Plist::dict();
        done.set("Status", Plist::string("Complete"));
        if (!sendPlistFrame(c.fd, done.toXml()))
            return;
        journalAdd(phone, journalEntry(c, kServiceInstProxy, "Complete", false));
    }
}

}  // namespace fakedevice
