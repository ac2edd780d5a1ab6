#include "addressbooklabels.h"

namespace addressbooklabels {

namespace {

struct LabelCode {
    const char* label;
    int code;
};

const LabelCode kPhoneLabels[] = {
    {"_$!<Mobile>!$_", 2}, {"_$!<Main>!$_", 12}, {"_$!<HomeFAX>!$_", 5}, {"_$!<WorkFAX>!$_", 4},
    {"_$!<Work>!$_", 3},   {"_$!<Home>!$_", 1},  {"_$!<Pager>!$_", 6},   {"_$!<OtherFAX>!$_", 13},
    {"_$!<Other>!$_", 0},  {nullptr, 0}};
const LabelCode kHomeWorkLabels[] = {
    {"_$!<Home>!$_", 1}, {"_$!<Work>!$_", 2}, {"_$!<Other>!$_", 0}, {nullptr, 0}};
const LabelCode kDateLabels[] = {{"_$!<Anniversary>!$_", 1}, {"_$!<Other>!$_", 0}, {nullptr, 0}};
const LabelCode kWebLabels[] = {{"_$!<HomePage>!$_", 1},
                                {"_$!<Home>!$_", 4},
                                {"_$!<Work>!$_", 5},
                                {"_$!<Other>!$_", 0},
                                {nullptr, 0}};
const LabelCode kRelatedLabels[] = {{"_$!<Assistant>!$_", 1},
                                    {"_$!<Brother>!$_", 2},
                                    {"_$!<Child>!$_", 3},
                                    {"_$!<Father>!$_", 5},
                                    {"_$!<Friend>!$_", 6},
                                    {"_$!<Manager>!$_", 7},
                                    {"_$!<Mother>!$_", 8},
                                    {"_$!<Parent>!$_", 9},
                                    {"_$!<Partner>!$_", 10},
                                    {"_$!<Sister>!$_", 13},
                                    {"_$!<Spouse>!$_", 14},
                                    {"_$!<Other>!$_", 0},
                                    {nullptr, 0}};
const LabelCode kServices[] = {{"AIM", 1},       {"MSN", 2},        {"Yahoo", 3}, {"Skype", 4},
                               {"QQ", 5},        {"GoogleTalk", 6}, {"ICQ", 7},   {"Jabber", 8},
                               {"GaduGadu", 10}, {"Facebook", 11},  {nullptr, 0}};

bool lookUp(const LabelCode* table, const QString& text, int& code) {
    for (const LabelCode* l = table; l->label; ++l) {
        if (text == QLatin1String(l->label)) {
            code = l->code;
            return true;
        }
    }
    return false;
}

const LabelCode* tableOf(int property) {
    switch (property) {
        case kPhone:
            return kPhoneLabels;
        case kDate:
            return kDateLabels;
        case kUrl:
            return kWebLabels;
        case kRelated:
            return kRelatedLabels;
        default:
            return kHomeWorkLabels;
    }
}

}  // namespace

QString labelWord(const QString& label) {
    static const QLatin1String open("_$!<");
    static const QLatin1String close(">!$_");
    if (label.size() > open.size() + close.size() && label.startsWith(open) &&
        label.endsWith(close))
        return label.mid(open.size(), label.size() - open.size() - close.size());
    return label;
}

void setLabel(pim::Entity& e, int property, const QString& label) {
    int code = 0;
    if (lookUp(tableOf(property), label, code)) {
        e.fields[QStringLiteral("data2")] = code;
    } else {
        // What the phone shows for a built-in label we have no code for is its name, never the
        // marker it is stored with.
        e.fields[QStringLiteral("data2")] = 0;
        e.fields[QStringLiteral("data3")] = labelWord(label);
    }
}

int defaultLabel(int property) {
    switch (property) {
        case kPhone:
            return 2;  // mobile
        case kDate:
            return 0;  // other (birthdays are kept apart)
        default:
            return 1;  // e-mail, address, IM: home; web: home page; related: assistant
    }
}

bool serviceCode(const QString& service, int& code) {
    return lookUp(kServices, service, code);
}

}  // namespace addressbooklabels
