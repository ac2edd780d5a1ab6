// Deterministic contact records with varied details, as an iPhone serves them.
#include "internal.h"

namespace fakedevice {

namespace {

class Rng {
public:
    explicit Rng(uint32_t seed) : s_(seed * 2654435761u + 0x9e3779b9u) {
        if (s_ == 0)
            s_ = 1;
    }
    uint32_t next() {
        // xorshift32
        s_ ^= s_ << 13;
        s_ ^= s_ >> 17;
        s_ ^= s_ << 5;
        return s_;
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
    bool chance(int percent) { return below(100) < percent; }
    template <size_t N>
    const char* pick(const char* const (&a)[N]) {
        return a[below(static_cast<int>(N))];
    }

private:
    uint32_t s_;
};

const char* const kFirst[] = {"Anna",   "Bruno",  "Chloé", "David", "Emma", "Felix", "Greta",
                              "Hiro",   "Ingrid", "José",  "Karl",  "Lena", "Mia",   "Noah",
                              "Olga",   "Pål",    "Quinn", "Rosa",  "Sven", "Tomás", "Una",
                              "Viktor", "Wen",    "Xenia", "Yusuf", "Zoë",  "李",    "Ольга"};
const char* const kLast[] = {
    "Andersson", "Becker",  "Costa",  "Dubois",   "Eriksen",      "Fischer", "García",
    "Hoffmann",  "Ivanova", "Jansen", "Kowalski", "Larsen",       "Müller",  "Nakamura",
    "O'Brien",   "Petrov",  "Quist",  "Rossi",    "Schmidt",      "Tanaka",  "Uribe",
    "Vogel",     "Weber",   "Young",  "Zhang",    "van der Berg", "王"};
const char* const kMiddle[] = {"J.", "Marie", "Lee", "Ann", "Paul"};
const char* const kTitle[] = {"Dr.", "Mr.", "Ms.", "Prof."};
const char* const kSuffix[] = {"Jr.", "Sr.", "III", "PhD"};
const char* const kCompany[] = {"Acme Corp",     "Northwind",   "Globex",      "Initech",
                                "Umbrella & Co", "Müller GmbH", "Blue Sky Ltd"};
const char* const kDept[] = {"Sales", "Research", "Support", "Finance", "IT"};
const char* const kJob[] = {"Engineer", "Manager", "Designer", "Director", "Analyst"};
const char* const kNick[] = {"Bee", "Ace", "Doc", "Sunny", "Max"};
const char* const kPhoneTypes[] = {"mobile",   "home",     "work",  "main",
                                   "work fax", "home fax", "pager", "other"};
const char* const kHomeWork[] = {"home", "work", "other"};
const char* const kUrlTypes[] = {"home page", "home", "work", "other"};
const char* const kRelTypes[] = {"assistant", "brother", "child",   "father", "friend", "manager",
                                 "mother",    "parent",  "partner", "sister", "spouse", "other"};
const char* const kImServices[] = {"aim",        "msn", "yahoo",  "skype",    "qq",
                                   "googletalk", "icq", "jabber", "gadugadu", "facebook"};
const char* const kStreets[] = {"Main Street 1", "Hauptstraße 12", "Rue de la Paix 5",
                                "Elm Road 42\nFlat 3", "Via Roma 7"};
const char* const kCities[] = {"Springfield", "Berlin", "Paris", "London", "Roma", "東京"};
const char* const kStates[] = {"CA", "BE", "IDF", "", "RM"};
const char* const kCountries[] = {"USA", "Germany", "France", "United Kingdom", "Italy", "Japan"};
const char* const kCodes[] = {"us", "de", "fr", "gb", "it", "jp"};
const char* const kLabels[] = {"Holiday home", "Boat", "Old number"};

Plist str(const std::string& s) {
    return Plist::string(s);
}

// A small deterministic "image": a PNG signature followed by pseudo-random bytes.
std::string imageBytes(Rng& rng, int i) {
    std::string b = "\x89PNG\r\n\x1a\n";
    int n = 64 + (i % 7) * 37;
    for (int k = 0; k < n; ++k)
        b += static_cast<char>(rng.next() & 0xff);
    return b;
}

// Seconds since 2001-01-01 for a calendar day at noon UTC.
int32_t dateSecs(int year, int month, int day) {
    // days from civil (Howard Hinnant)
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long days1970 = era * 146097L + static_cast<long>(doe) - 719468L;
    long secs = (days1970 - 11323L) * 86400L + 12 * 3600L;  // 11323 days 1970 -> 2001
    return static_cast<int32_t>(secs);
}

struct Child {
    std::string id;
    Plist rec;
};

Plist childBase(const char* kind, const std::string& contactId) {
    Plist r = Plist::dict();
    r.set(kEntityNameKey, str(kind));
    (void)contactId;
    return r;
}

void finishChild(Plist& r, const std::string& contactId) {
    Plist arr = Plist::array();
    arr.append(str(contactId));
    r.set("contact", arr);
}

// type word, or a custom label with "other"
void setType(Rng& rng, Plist& r, const char* word) {
    if (rng.chance(8)) {
        r.set("type", str("other"));
        r.set("label", str(rng.pick(kLabels)));
    } else {
        r.set("type", str(word));
    }
}

}  // namespace

void Phone::generateContacts(size_t n, const GenerateOptions& opt) {
    Rng rng(opt.seed);
    Plist records = Plist::dict();
    std::vector<std::pair<std::string, Plist>> contacts;
    std::vector<std::vector<Child>> children;

    for (size_t idx = 1; idx <= n; ++idx) {
        const std::string cid = std::to_string(idx);
        int i = static_cast<int>(idx);
        Plist c = Plist::dict();
        c.set(kEntityNameKey, str("com.apple.contacts.Contact"));
        c.set("display as company", str("person"));
        c.set("first name", str(rng.pick(kFirst)));
        c.set("last name", str(rng.pick(kLast)));
        if (rng.chance(15))
            c.set("middle name", str(rng.pick(kMiddle)));
        if (rng.chance(10)) {
            c.set("first name yomi", str("ふりがな"));
            c.set("last name yomi", str("せい"));
        }
        if (rng.chance(10))
            c.set("title", str(rng.pick(kTitle)));
        if (rng.chance(5))
            c.set("suffix", str(rng.pick(kSuffix)));
        if (rng.chance(40)) {
            c.set("company name", str(rng.pick(kCompany)));
            if (rng.chance(50))
                c.set("department", str(rng.pick(kDept)));
            c.set("job title", str(rng.pick(kJob)));
        }
        if (rng.chance(15))
            c.set("nickname", str(rng.pick(kNick)));
        if (rng.chance(35))
            c.set("birthday",
                  Plist(plist_new_date(
                      dateSecs(1940 + rng.below(65), 1 + rng.below(12), 1 + rng.below(28)), 0)));
        if (opt.photoEvery > 0 && i % opt.photoEvery == 0) {
            std::string image = imageBytes(rng, i);
            // A camera photo: the rest of its bytes vary too, so nothing shares them.
            for (size_t k = image.size(); k < opt.photoBytes; ++k)
                image += static_cast<char>((rng.next() >> 8) & 0xff);
            c.set("image", plistData(image));
        }
        if (rng.chance(20))
            c.set("notes", str(rng.chance(50) ? "Met at the conference.\nCall back in May."
                                              : "Prefers e-mail; \"VIP\" <customer> & friend"));

        std::vector<Child> kids;
        int counters[24] = {0};
        auto childId = [&](int code) {
            return std::to_string(code) + "/" + cid + "/" + std::to_string(counters[code]++);
        };
        int phones = 1 + rng.below(3);
        for (int p = 0; p < phones; ++p) {
            Plist r = childBase("com.apple.contacts.Phone Number", cid);
            char num[32];
            snprintf(num, sizeof num, "+1 555 %03d %04d", i % 1000, (i * 7 + p * 131) % 10000);
            r.set("value", str(num));
            setType(rng, r, rng.pick(kPhoneTypes));
            finishChild(r, cid);
            kids.push_back({childId(3), r});
        }
        int emails = rng.below(3);
        for (int e = 0; e < emails; ++e) {
            Plist r = childBase("com.apple.contacts.Email Address", cid);
            r.set("value", str("user" + cid + "." + std::to_string(e) + "@example.com"));
            setType(rng, r, rng.pick(kHomeWork));
            finishChild(r, cid);
            kids.push_back({childId(4), r});
        }
        if (rng.chance(40)) {
            Plist r = childBase("com.apple.contacts.Street Address", cid);
            int k = rng.below(6);
            r.set("street", str(kStreets[k % 5]));
            r.set("city", str(kCities[k]));
            if (kStates[k % 5][0])
                r.set("state", str(kStates[k % 5]));
            r.set("postal code", str(std::to_string(10000 + (i * 37) % 89999)));
            r.set("country", str(kCountries[k]));
            r.set("country code", str(kCodes[k]));
            setType(rng, r, rng.pick(kHomeWork));
            finishChild(r, cid);
            kids.push_back({childId(5), r});
        }
        if (rng.chance(20)) {
            Plist r = childBase("com.apple.contacts.Date", cid);
            r.set("value",
                  Plist(plist_new_date(
                      dateSecs(1990 + rng.below(30), 1 + rng.below(12), 1 + rng.below(28)), 0)));
            setType(rng, r, rng.chance(70) ? "anniversary" : "other");
            finishChild(r, cid);
            kids.push_back({childId(12), r});
        }
        if (rng.chance(20)) {
            Plist r = childBase("com.apple.contacts.IM", cid);
            r.set("user", str("im_user_" + cid));
            r.set("service", str(rng.pick(kImServices)));
            setType(rng, r, rng.pick(kHomeWork));
            finishChild(r, cid);
            kids.push_back({childId(13), r});
        }
        if (rng.chance(25)) {
            Plist r = childBase("com.apple.contacts.URL", cid);
            r.set("value", str("https://example.org/~u" + cid));
            setType(rng, r, rng.pick(kUrlTypes));
            finishChild(r, cid);
            kids.push_back({childId(22), r});
        }
        if (rng.chance(15)) {
            Plist r = childBase("com.apple.contacts.Related Name", cid);
            r.set("value", str(rng.pick(kFirst)));
            setType(rng, r, rng.pick(kRelTypes));
            finishChild(r, cid);
            kids.push_back({childId(23), r});
        }
        contacts.emplace_back(cid, std::move(c));
        children.push_back(std::move(kids));
    }

    // The optional oddities go on the first contacts.
    if (n >= 1 && opt.wrongValueTypes) {
        contacts[0].second.set("image", str("not image data"));
        Plist r = childBase("com.apple.contacts.Date", "1");
        r.set("value", str("2001-02-03"));
        r.set("type", str("anniversary"));
        finishChild(r, "1");
        children[0].push_back({"12/1/99", r});
    }
    if (n >= 1 && opt.wrongCaseTypes) {
        Plist r = childBase("com.apple.contacts.Phone Number", "1");
        r.set("value", str("+1 555 000 0001"));
        r.set("type", str("Mobile"));
        finishChild(r, "1");
        children[0].push_back({"3/1/98", r});
    }
    if (n >= 2 && opt.childNamingTwoContacts) {
        Plist r = childBase("com.apple.contacts.Phone Number", "1");
        r.set("value", str("+1 555 222 2222"));
        r.set("type", str("home"));
        Plist arr = Plist::array();
        arr.append(str("1"));
        arr.append(str("2"));
        r.set("contact", arr);
        children[1].push_back({"3/1/97", r});
    }

    auto addKids = [&](size_t k) {
        for (Child& ch : children[k])
            records.set(ch.id, ch.rec);
    };
    switch (opt.order) {
        case GenerateOptions::Order::ContactFirst:
            for (size_t k = 0; k < contacts.size(); ++k) {
                records.set(contacts[k].first, contacts[k].second);
                addKids(k);
            }
            break;
        case GenerateOptions::Order::ChildrenFirst:
            for (size_t k = 0; k < contacts.size(); ++k) {
                addKids(k);
                records.set(contacts[k].first, contacts[k].second);
            }
            break;
        case GenerateOptions::Order::ContactsFirst:
            for (auto& c : contacts)
                records.set(c.first, c.second);
            for (size_t k = 0; k < contacts.size(); ++k)
                addKids(k);
            break;
    }
    if (opt.unknownKind) {
        Plist g = Plist::dict();
        g.set(kEntityNameKey, str("com.apple.contacts.Group"));
        g.set("name", str("Friends"));
        records.set("group/1", g);
    }
    setRecords(records);
}

}  // namespace fakedevice
