// The login texts of the SASL mechanisms the clients use: PLAIN, LOGIN and
// XOAUTH2 (an OAuth2 access token in place of a password).
#pragma once

#include <string>

std::string Base64Of(const std::string& bytes);
// "\0user\0password", base64.
std::string SaslPlain(const std::string& user, const std::string& password);
// "user=<user>\x01auth=Bearer <token>\x01\x01", base64.
std::string SaslXOAuth2(const std::string& user, const std::string& token);
