#pragma once

#include <QString>

// Fixed facts about this program that dialogs, the update check and the error report share.

// Version shown to the user and sent to the web service.
extern const char* const g_versionText;  // "3.1.13"
constexpr int g_versionNumber = 13;

// Product identifier the web service knows this program by.
extern const char* const g_productId;  // "4C17E09A2D6B83F5E1A0C94B7D2E6F38"

// The translated product title (translation context "QObject").
QString g_productTitle();
