// Random sequences of building, placing, copying, reading and serialising property-list
// values. Under AddressSanitizer this finds leaks, double frees and reads of freed nodes in
// the ownership rules. The pool holds only values their handles own; a value handed to a
// container leaves the pool, and borrowed handles are used at once.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/plistcftype.h"

namespace {

struct Input {
    const uint8_t* p;
    size_t n;
    bool empty() const { return n == 0; }
    uint8_t byte() {
        if (!n)
            return 0;
        --n;
        return *p++;
    }
    QString text() {
        const int len = byte() % 12;
        QByteArray b;
        for (int i = 0; i < len && n; ++i)
            b.append(char(byte()));
        return QString::fromUtf8(b);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    std::vector<PlistCFType> pool;
    auto pick = [&]() -> PlistCFType& { return pool[in.byte() % pool.size()]; };
    auto take = [&](size_t i) {
        PlistCFType v = pool[i];
        pool.erase(pool.begin() + long(i));
        return v;
    };
    // Copies can double a tree each step; a few of them reach every path without the input
    // growing trees exponentially and timing out on its own work.
    int copies = 0;
    auto mayCopy = [&] { return ++copies <= 12; };
    int steps = 0;
    while (!in.empty() && ++steps < 400) {
        const uint8_t op = in.byte() % 16;
        if (pool.size() > 24)
            pool.erase(pool.begin());
        switch (op) {
            case 0:
                pool.push_back(PlistCFType::createCFDictionary());
                break;
            case 1:
                pool.push_back(PlistCFType::createCFArray());
                break;
            case 2:
                pool.push_back(PlistCFType::createCFString(in.text()));
                break;
            case 3:
                pool.push_back(PlistCFType::createCFNumberInt64(int8_t(in.byte()) * 977));
                break;
            case 4:
                pool.push_back(PlistCFType::createCFDate(
                    QDateTime::fromSecsSinceEpoch(qint64(int8_t(in.byte())) * 86400 * 300)));
                break;
            case 5:
            case 6: {  // hand a value over to a container
                if (pool.size() < 2)
                    break;
                const size_t vi = in.byte() % pool.size();
                PlistCFType value = take(vi);
                PlistCFType& box = pick();
                if (op == 5)
                    box.put(in.text(), value);
                else
                    box.append(value);
                if (value.isOwned())
                    pool.push_back(value);  // not placed: still ours
                break;
            }
            case 7: {  // place a borrowed node (copied by the container)
                if (pool.size() < 2 || !mayCopy())
                    break;
                PlistCFType& src = pick();
                PlistCFType& dst = pick();
                PlistCFType inner = src.isCFArray() ? src.at(in.byte() % 4) : src.get(in.text());
                dst.append(inner);
                break;
            }
            case 8:
                if (!pool.empty() && mayCopy())
                    pool.push_back(PlistCFType::clone(pick()));
                break;
            case 9: {
                if (pool.size() < 2)
                    break;
                const size_t vi = in.byte() % pool.size();
                PlistCFType value = take(vi);
                pick().array_replace(in.byte() % 4, value);
                if (value.isOwned())
                    pool.push_back(value);
                break;
            }
            case 10:
                if (!pool.empty() && mayCopy())
                    pool.push_back(
                        PlistCFType::createCFPropertyList(pick().CFPropertyListToBytes(200)));
                break;
            case 11:
                if (!pool.empty() && mayCopy())
                    pool.push_back(
                        PlistCFType::createCFPropertyList(pick().CFPropertyListToBytes(100)));
                break;
            case 12:
                if (!pool.empty()) {
                    const PlistCFType& v = pick();
                    (void)v.toString();
                    (void)v.dict_keys();
                    (void)v.NSKeyedArchiver();
                }
                break;
            case 13:
                if (!pool.empty())
                    pool.erase(pool.begin() + long(in.byte() % pool.size()));
                break;
            case 14: {  // keyed archive of fresh values, read back
                QHash<QString, PlistCFType> h;
                const int n = in.byte() % 4;
                for (int i = 0; i < n; ++i)
                    h.insert(in.text(), PlistCFType::createCFNumberInt32(i));
                PlistCFType archive = PlistCFType::createNSDictionaryStringCFType(h, in.byte() & 1);
                (void)PlistCFType::parseNSDictionaryStringCFType(archive);
                pool.push_back(archive);
                break;
            }
            case 15:
                if (!pool.empty() && mayCopy())
                    pool.push_back(PlistCFType::createCFDictionaryCreateMutableCopy(pick()));
                break;
        }
    }
    return 0;
}
