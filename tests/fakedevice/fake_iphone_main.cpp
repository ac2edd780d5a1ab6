// fake-iphone: a simulated iPhone behind a usbmuxd socket, for running the program without one.
//
//   fake-iphone --socket /tmp/fake/mux [--udid U] [--name N] [--contacts N | --fixture FILE]
//               [--seed S] [--batch-size N] [--journal FILE] [--control PATH] [--network]
//               [--ios N] [--photo-bytes N]
//
// Start the program under test with USBMUXD_SOCKET_ADDRESS=UNIX:/tmp/fake/mux.
#include "fakedevice.h"

#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <vector>

namespace {

void usage() {
    fprintf(stderr,
            "usage: fake-iphone --socket PATH [options]\n"
            "  --socket PATH      unix socket to create (clients use "
            "USBMUXD_SOCKET_ADDRESS=UNIX:PATH)\n"
            "  --udid UDID        device identifier (default: a fixed 40-hex-digit id)\n"
            "  --name NAME        DeviceName (default \"Fake iPhone\")\n"
            "  --contacts N       serve N generated contacts\n"
            "  --seed S           seed of the generated contacts (default 1)\n"
            "  --fixture FILE     serve the records of a plist file (dictionary id -> record)\n"
            "  --batch-size N     records per sync batch (default 50)\n"
            "  --journal FILE     append every message received as a JSON line\n"
            "  --control PATH     unix socket taking one command per line (see below)\n"
            "  --network          attach as a network device instead of USB\n"
            "  --ios N            behave as a phone on iOS N (default 17: device-link 400 and\n"
            "                     TLS; 12: device-link 300, no TLS on the sync service)\n"
            "  --photo-bytes N    every generated contact has a photo of N bytes\n"
            "  --photo-every K    with --photo-bytes: only every Kth one has (default 1)\n"
            "control commands: attach | netattach | detach | count | save FILE | load FILE |\n"
            "  name NAME | contacts N [SEED [PHOTO_BYTES]] | untrusted on|off |\n"
            "  refuse-sync [TEXT|off] | icloud refuse|empty | trust pending|tap|decline |\n"
            "  locked on|off | tls-refused on|off | unplug-at REQUEST [N]|off |\n"
            "  cancel-at-batch K|off | drop-at-batch K|off | disconnect-at-batch K|off |\n"
            "  malformed-at-batch K|off | hostile nested|shared|nul|oversized|off [K] |\n"
            "  delay MS | stall lockdown|sync REQUEST [N]|off | stall-tls lockdown|sync|off |\n"
            "  commit-on-finish on|off | finish-refused TEXT|off |\n"
            "  start-service-error EscrowLocked|MissingValue|ServiceLimit|...|off |\n"
            "  pair-record damaged|off | clear-journal | reset | quit\n");
}

bool parseSize(const char* s, size_t* out) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(s, &end, 10);
    if (errno || !end || *end || s[0] == '-' || s[0] == '\0')
        return false;
    *out = static_cast<size_t>(v);
    return true;
}

bool parseToggle(const std::string& arg, bool* on) {
    if (arg == "on" || arg == "1") {
        *on = true;
        return true;
    }
    if (arg == "off" || arg == "0") {
        *on = false;
        return true;
    }
    return false;
}

// One control-socket command; the answer is "ok[ value]" or "error <why>", one line.
std::string handleCommand(const std::string& line, fakedevice::Server& server,
                          const std::shared_ptr<fakedevice::Phone>& shared, bool* quit) {
    fakedevice::Phone& phone = *shared;
    std::istringstream in(line);
    std::string cmd, arg;
    in >> cmd;
    std::getline(in >> std::ws, arg);
    size_t n = 0;
    bool on = false;
    if (cmd == "attach") {
        server.attach(shared, fakedevice::Connection::Usb);
    } else if (cmd == "netattach") {
        server.attach(shared, fakedevice::Connection::Network);
    } else if (cmd == "detach") {
        if (!server.detach(phone.udid()))
            return "error not attached";
    } else if (cmd == "count") {
        return "ok " + std::to_string(phone.recordCount());
    } else if (cmd == "save" || cmd == "load") {
        std::string err;
        if (arg.empty())
            return "error " + cmd + " needs a file";
        if (cmd == "save" ? !phone.saveFixture(arg, &err) : !phone.loadFixture(arg, &err))
            return "error " + err;
    } else if (cmd == "name") {
        if (arg.empty())
            return "error name needs a text";
        phone.setDeviceName(arg);
    } else if (cmd == "contacts") {
        std::istringstream a(arg);
        std::string count, seed, photo;
        a >> count >> seed >> photo;
        fakedevice::GenerateOptions opt;
        size_t sd = 1, bytes = 0;
        if (!parseSize(count.c_str(), &n) || (!seed.empty() && !parseSize(seed.c_str(), &sd)) ||
            (!photo.empty() && (!parseSize(photo.c_str(), &bytes) || bytes > (64u << 20))))
            return "error contacts needs a number (and optionally a seed and photo bytes)";
        opt.seed = static_cast<uint32_t>(sd);
        if (bytes > 0) {
            opt.photoEvery = 1;
            opt.photoBytes = bytes;
        }
        phone.generateContacts(n, opt);
    } else if (cmd == "icloud") {
        if (arg != "refuse" && arg != "empty")
            return "error icloud needs refuse or empty";
        phone.emulateICloudContacts(arg == "refuse");
    } else if (cmd == "trust") {
        static const std::map<std::string, fakedevice::Trust> trusts = {
            {"pending", fakedevice::Trust::Pending},
            {"tap", fakedevice::Trust::Trusted},
            {"decline", fakedevice::Trust::Declined}};
        auto it = trusts.find(arg);
        if (it == trusts.end())
            return "error trust needs pending, tap or decline";
        phone.setTrust(it->second);
    } else if (cmd == "locked" || cmd == "tls-refused") {
        if (!parseToggle(arg, &on))
            return "error " + cmd + " needs on or off";
        phone.updateScenario(
            [&](fakedevice::Scenario& s) { (cmd == "locked" ? s.locked : s.tlsRefused) = on; });
    } else if (cmd == "unplug-at") {
        std::istringstream a(arg);
        std::string request, nth;
        a >> request >> nth;
        if (request.empty() || (!nth.empty() && !parseSize(nth.c_str(), &n)))
            return "error unplug-at needs a request name (and optionally which one) or off";
        phone.updateScenario([&](fakedevice::Scenario& s) {
            s.faults.erase(std::remove_if(s.faults.begin(), s.faults.end(),
                                          [](const fakedevice::Fault& f) {
                                              return f.kind == fakedevice::FaultKind::Unplug;
                                          }),
                           s.faults.end());
            if (request == "off")
                return;
            fakedevice::Fault f;
            f.service = fakedevice::kServiceSync;
            f.request = request;
            f.nth = nth.empty() ? 1 : static_cast<int>(n);
            f.kind = fakedevice::FaultKind::Unplug;
            f.times = 1;
            s.faults.push_back(f);
        });
    } else if (cmd == "untrusted" || cmd == "commit-on-finish") {
        if (!parseToggle(arg, &on))
            return "error " + cmd + " needs on or off";
        phone.updateScenario([&](fakedevice::Scenario& s) {
            if (cmd == "commit-on-finish")
                s.commitOnFinish = on;
            else if (on)
                s.lockdownErrors["StartSession"] = "InvalidHostID";
            else
                s.lockdownErrors.erase("StartSession");
        });
    } else if (cmd == "finish-refused") {
        if (arg.empty())
            return "error finish-refused needs the phone's reason or off";
        phone.updateScenario(
            [&](fakedevice::Scenario& s) { s.finishRefusal = arg == "off" ? std::string() : arg; });
    } else if (cmd == "start-service-error") {
        if (arg.empty())
            return "error start-service-error needs a lockdown error name or off";
        phone.updateScenario([&](fakedevice::Scenario& s) {
            if (arg == "off")
                s.lockdownErrors.erase("StartService");
            else
                s.lockdownErrors["StartService"] = arg;
        });
    } else if (cmd == "pair-record") {
        if (arg != "damaged" && arg != "off")
            return "error pair-record needs damaged or off";
        phone.updateScenario([&](fakedevice::Scenario& s) { s.damagedPairRecord = arg != "off"; });
    } else if (cmd == "refuse-sync") {
        phone.updateScenario([&](fakedevice::Scenario& s) {
            s.refuseSync = arg != "off";
            s.refuseDescription = arg == "off" ? std::string() : arg;
        });
    } else if (cmd == "cancel-at-batch" || cmd == "drop-at-batch" || cmd == "disconnect-at-batch" ||
               cmd == "malformed-at-batch") {
        int k = -1;
        if (arg != "off") {
            if (!parseSize(arg.c_str(), &n) || n > 1000000)
                return "error " + cmd + " needs a batch number or off";
            k = static_cast<int>(n);
        }
        phone.updateScenario([&](fakedevice::Scenario& s) {
            (cmd == "cancel-at-batch"       ? s.cancelAtBatch
             : cmd == "drop-at-batch"       ? s.dropAtBatch
             : cmd == "disconnect-at-batch" ? s.disconnectAtBatch
                                            : s.malformedAtBatch) = k;
        });
    } else if (cmd == "hostile") {
        std::istringstream a(arg);
        std::string kind, at;
        a >> kind >> at;
        static const std::map<std::string, fakedevice::HostileFrame> kinds = {
            {"nested", fakedevice::HostileFrame::Nested},
            {"shared", fakedevice::HostileFrame::SharedReferences},
            {"nul", fakedevice::HostileFrame::NulString},
            {"oversized", fakedevice::HostileFrame::Oversized},
            {"off", fakedevice::HostileFrame::None}};
        auto it = kinds.find(kind);
        if (it == kinds.end() || (!at.empty() && !parseSize(at.c_str(), &n)))
            return "error hostile needs nested, shared, nul, oversized or off (and a batch)";
        phone.updateScenario([&](fakedevice::Scenario& s) {
            s.hostileFrame = it->second;
            s.hostileAtBatch = at.empty() ? 0 : static_cast<int>(n);
        });
    } else if (cmd == "delay") {
        if (!parseSize(arg.c_str(), &n) || n > 600000)
            return "error delay needs milliseconds";
        phone.updateScenario([&](fakedevice::Scenario& s) {
            s.faults.erase(std::remove_if(s.faults.begin(), s.faults.end(),
                                          [](const fakedevice::Fault& f) {
                                              return f.kind == fakedevice::FaultKind::Delay;
                                          }),
                           s.faults.end());
            if (n == 0)
                return;
            for (const char* service : {fakedevice::kServiceLockdown, fakedevice::kServiceSync}) {
                fakedevice::Fault f;
                f.service = service;
                f.kind = fakedevice::FaultKind::Delay;
                f.delayMs = static_cast<int>(n);
                s.faults.push_back(f);
            }
        });
    } else if (cmd == "stall") {
        // The phone stops answering at the Nth (default first) request of that name on a
        // connection of that service, e.g. "stall lockdown GetValue" or
        // "stall sync SDMessageAcknowledgeChangesFromDevice 2"; a lockdown request may name its
        // domain: "stall lockdown GetValue com.apple.mobile.tethered_sync".
        std::istringstream a(arg);
        std::vector<std::string> words;
        for (std::string w; a >> w;)
            words.push_back(w);
        const std::string where = words.empty() ? std::string() : words.front();
        std::string nth;
        if (words.size() > 2 && words.back().find_first_not_of("0123456789") == std::string::npos) {
            nth = words.back();
            words.pop_back();
        }
        std::string request;
        for (size_t i = 1; i < words.size(); ++i)
            request += (i > 1 ? " " : "") + words[i];
        const bool off = where == "off";
        if (!off && ((where != "lockdown" && where != "sync") || request.empty() ||
                     (!nth.empty() && !parseSize(nth.c_str(), &n))))
            return "error stall needs lockdown or sync, a request name (and which one), or off";
        phone.updateScenario([&](fakedevice::Scenario& s) {
            s.faults.erase(std::remove_if(s.faults.begin(), s.faults.end(),
                                          [](const fakedevice::Fault& f) {
                                              return f.kind == fakedevice::FaultKind::Stall;
                                          }),
                           s.faults.end());
            if (off)
                return;
            fakedevice::Fault f;
            f.service =
                where == "lockdown" ? fakedevice::kServiceLockdown : fakedevice::kServiceSync;
            f.request = request;
            f.nth = nth.empty() ? 1 : static_cast<int>(n);
            f.kind = fakedevice::FaultKind::Stall;
            f.times = 1;
            s.faults.push_back(f);
        });
    } else if (cmd == "stall-tls") {
        if (arg != "lockdown" && arg != "sync" && arg != "off")
            return "error stall-tls needs lockdown, sync or off";
        phone.updateScenario([&](fakedevice::Scenario& s) {
            s.stallTlsOf = arg == "lockdown" ? fakedevice::kServiceLockdown
                           : arg == "sync"   ? fakedevice::kServiceSync
                                             : "";
        });
    } else if (cmd == "clear-journal") {
        // What a long run of sessions leaves behind: the messages and sessions kept so far.
        phone.clearJournal();
    } else if (cmd == "reset") {
        const int ios = phone.iosMajor();
        phone.updateScenario([&](fakedevice::Scenario& s) {
            const size_t batch = s.batchSize;
            s = fakedevice::scenarioFor(ios);
            s.batchSize = batch;
        });
    } else if (cmd == "quit") {
        *quit = true;
    } else {
        return "error unknown command " + cmd;
    }
    return "ok";
}

int listenUnix(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return -1;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    // A command can free a whole store of records or a long journal at once. Without fast
    // bins glibc sorts freed memory as it is freed, rather than in one long stall inside
    // whichever connection the phone serves next.
    mallopt(M_MXFAST, 0);
    std::string socketPath, udid = fakedevice::makeUdid(1), name = "Fake iPhone", fixture, journal,
                            control;
    size_t contacts = 0, batch = 50, seed = 1, ios = 17, photoBytes = 0, photoEvery = 1;
    bool network = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                fprintf(stderr, "fake-iphone: %s needs a value\n", what);
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--socket") {
            socketPath = value("--socket");
        } else if (a == "--udid") {
            udid = value("--udid");
        } else if (a == "--name") {
            name = value("--name");
        } else if (a == "--contacts") {
            if (!parseSize(value("--contacts"), &contacts)) {
                fprintf(stderr, "fake-iphone: --contacts needs a number\n");
                return 2;
            }
        } else if (a == "--seed") {
            if (!parseSize(value("--seed"), &seed)) {
                fprintf(stderr, "fake-iphone: --seed needs a number\n");
                return 2;
            }
        } else if (a == "--batch-size") {
            if (!parseSize(value("--batch-size"), &batch)) {
                fprintf(stderr, "fake-iphone: --batch-size needs a number\n");
                return 2;
            }
        } else if (a == "--photo-bytes") {
            if (!parseSize(value("--photo-bytes"), &photoBytes) || photoBytes > (64u << 20)) {
                fprintf(stderr, "fake-iphone: --photo-bytes needs a number up to 64 MiB\n");
                return 2;
            }
        } else if (a == "--photo-every") {
            if (!parseSize(value("--photo-every"), &photoEvery) || photoEvery < 1 ||
                photoEvery > 1000000) {
                fprintf(stderr, "fake-iphone: --photo-every needs a number from 1\n");
                return 2;
            }
        } else if (a == "--fixture") {
            fixture = value("--fixture");
        } else if (a == "--journal") {
            journal = value("--journal");
        } else if (a == "--control") {
            control = value("--control");
        } else if (a == "--network") {
            network = true;
        } else if (a == "--ios") {
            if (!parseSize(value("--ios"), &ios) || ios < 7 || ios > 30) {
                fprintf(stderr, "fake-iphone: --ios needs an iOS major version\n");
                return 2;
            }
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else {
            fprintf(stderr, "fake-iphone: unknown option %s\n", a.c_str());
            usage();
            return 2;
        }
    }
    if (socketPath.empty()) {
        usage();
        return 2;
    }
    if (udid.empty() || udid.size() > 43) {
        fprintf(stderr, "fake-iphone: the udid must have 1 to 43 characters\n");
        return 2;
    }

    // Signals arrive through a descriptor, so every thread keeps them blocked.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    signal(SIGPIPE, SIG_IGN);
    int sigFd = signalfd(-1, &mask, SFD_CLOEXEC);

    auto phone = std::make_shared<fakedevice::Phone>(udid, name);
    phone->emulateIos(static_cast<int>(ios));
    // A backup request ends the way a phone with nothing to send ends it.
    phone->setBackupScript(fakedevice::BackupScript().finish(0));
    phone->updateScenario([&](fakedevice::Scenario& s) { s.batchSize = batch; });
    if (!fixture.empty()) {
        std::string err;
        if (!phone->loadFixture(fixture, &err)) {
            fprintf(stderr, "fake-iphone: %s\n", err.c_str());
            return 1;
        }
    } else if (contacts > 0) {
        fakedevice::GenerateOptions opt;
        opt.seed = static_cast<uint32_t>(seed);
        if (photoBytes > 0) {
            opt.photoEvery = static_cast<int>(photoEvery);
            opt.photoBytes = photoBytes;
        }
        phone->generateContacts(contacts, opt);
    }
    if (!journal.empty())
        phone->setJournalFile(journal);

    std::unique_ptr<fakedevice::Server> server;
    try {
        server = std::make_unique<fakedevice::Server>(socketPath);
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const auto type = network ? fakedevice::Connection::Network : fakedevice::Connection::Usb;
    server->attach(phone, type);

    int ctlFd = -1;
    if (!control.empty()) {
        ctlFd = listenUnix(control);
        if (ctlFd < 0) {
            fprintf(stderr, "fake-iphone: cannot listen on %s\n", control.c_str());
            return 1;
        }
    }
    printf("fake-iphone: %s \"%s\" with %zu records on %s\n", udid.c_str(), name.c_str(),
           phone->recordCount(), server->socketAddress().c_str());
    fflush(stdout);

    struct Client {
        int fd;
        std::string buf;
    };
    std::vector<Client> clients;
    bool quit = false;
    while (!quit) {
        std::vector<pollfd> fds;
        fds.push_back({sigFd, POLLIN, 0});
        if (ctlFd >= 0)
            fds.push_back({ctlFd, POLLIN, 0});
        for (const Client& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN)
            break;
        size_t base = 1;
        if (ctlFd >= 0) {
            if (fds[1].revents & POLLIN) {
                int c = accept(ctlFd, nullptr, nullptr);
                if (c >= 0)
                    clients.push_back({c, std::string()});
            }
            base = 2;
        }
        std::vector<Client> keep;
        for (size_t i = 0; i < clients.size(); ++i) {
            Client c = clients[i];
            if (i + base < fds.size() && (fds[i + base].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buf[512];
                ssize_t n = recv(c.fd, buf, sizeof buf, 0);
                if (n <= 0) {
                    close(c.fd);
                    continue;
                }
                c.buf.append(buf, static_cast<size_t>(n));
                size_t nl;
                while ((nl = c.buf.find('\n')) != std::string::npos) {
                    std::string line = c.buf.substr(0, nl);
                    c.buf.erase(0, nl + 1);
                    if (!line.empty() && line.back() == '\r')
                        line.pop_back();
                    if (line.find_first_not_of(" \t") == std::string::npos)
                        continue;
                    std::string answer = handleCommand(line, *server, phone, &quit) + "\n";
                    send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                }
            }
            keep.push_back(c);
        }
        clients.swap(keep);
    }
    for (const Client& c : clients)
        close(c.fd);
    if (ctlFd >= 0) {
        close(ctlFd);
        unlink(control.c_str());
    }
    server->stop();
    return 0;
}
