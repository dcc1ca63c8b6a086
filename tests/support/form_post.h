// Forms posted to the installed tools as a browser posts them, and what tests
// look for in the pages that come back.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/cgi_run.h"

// form with the fields of more set (replaced where present, added at the end otherwise).
form_fields with_fields(form_fields form, const form_fields& more);
// form without the fields of these names.
form_fields without_fields(form_fields form, const std::vector<std::string>& names);
// The hidden fields of a page, as a browser would post them back.
form_fields hidden_fields(const std::string& page);

// The fields as an urlencoded body.
std::string form_body(const form_fields& form);
// The login cookie's pairs of an administrator (SYSTEM) of PROD whose home is home.
std::string admin_cookie_pairs(const std::string& home);
// program's answer to form posted by that administrator.
cgi_result post_form(const std::string& program, const form_fields& form, const std::string& home);

// The tool's own part of a page: from the form's opening to its end, the
// form token left out.
std::string form_of(const std::string& page);
bool contains(const std::string& page, const std::string& part);
size_t count(const std::string& page, const std::string& part);
// Whether the page ends with the frame's bottom (tool bar and footer).
bool has_page_bottom(const std::string& page);
