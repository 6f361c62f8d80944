#include "packet/Rfcmsg.h"

Rfcmsg* g_pRfcmsg = nullptr;

Rfcmsg::Rfcmsg(const std::string& dir, bool bNoPartDetection)
    : m_szDir(dir), m_bNoPartDetection(bNoPartDetection)
{
}

Rfcmsg::~Rfcmsg() = default;
