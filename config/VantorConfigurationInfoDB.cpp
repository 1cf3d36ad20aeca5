#include "config/VantorConfigurationInfoDB.h"

#include <iostream>

#include "config/ConfigurationParser.h"

VantorConfigurationInfoDB::VantorConfigurationInfoDB(const Symbol& type, const String& expression,
                                                     unsigned long debugLevel)
    : paramType_(type) {
    if (!ConfigurationParser::parse_precedence(expression, paramValue_, debugLevel))
        std::cerr << "can't parse precedence line - shouldn't ever happen " << std::endl;
    paramValueSymbol_ = Symbol(paramValue_);
}
