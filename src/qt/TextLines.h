// Texts of some languages break lines with a bare carriage return; Qt
// breaks only at line feeds.
#pragma once

#include <QString>
#include <string>

namespace kelvora::qtdetail {

// Text as Qt shows it: UTF-8 decoded, CR LF and bare CR turned into LF.
QString DisplayText(const std::string& Text);

}  // namespace kelvora::qtdetail
