// The actions of the sibling tools: their outcome above the body, the form
// that posts back to the program, and the button that was pressed.
#include <cstring>

#include "g/kvg.h"

namespace {
constexpr int MAX_BUTTONS = 16;
}  // namespace

bool kvg_outcome_refuse(kvg_context* context, kvg_outcome* outcome, const char* identifier, int number) {
    outcome->identifier = identifier;
    outcome->number = number;
    outcome->text = kvg_message(context, number);
    return false;
}

bool kvg_outcome_result(kvg_context* context, kvg_outcome* outcome, const char* identifier, int result, int code,
                        const char* message) {
    if (result == 0) return true;
    if (result > 0) return kvg_outcome_refuse(context, outcome, identifier, result);
    outcome->identifier = identifier;
    outcome->number = code;
    // The database's text may repeat a name from the request.
    outcome->text = kvg_html_escaped(message ? message : "");
    return false;
}

void kvg_write_outcome(kvg_context* context, const kvg_outcome& outcome) {
    if (outcome.refusal) kvg_refusal_block(context, outcome.refusal);
    if (outcome.identifier) kvg_error_page(1, outcome.identifier, outcome.number, outcome.text.c_str(), context);
    if (!outcome.line.empty()) bk_out("<P><B>%s</B>\n", outcome.line.c_str());
}

void kvg_self_form_start(kvg_context* context, const kvg_credentials* credentials, const kvg_server* server) {
    const char* script = server->script ? server->script : "";
    std::string tool = kvg_attr_escaped(kvg_path_base(context, script, std::strlen(script)));
    auto attr = [](const char* text) { return kvg_attr_escaped(text ? text : ""); };
    bk_out("<FORM method=post action=%s%s%s%s%s%s%s-%s%s%s>\n", attr(server->protocol).c_str(), ":", "/", "/",
           attr(server->host).c_str(), "/", attr(credentials->sid).c_str(), "bin", "/", tool.c_str());
    kvg_token_field(context, credentials);
}

const char* kvg_last_button(kvg_context* context, const kvg_var* list, const char* name, std::initializer_list<int> labels) {
    const char* values[MAX_BUTTONS];
    int count = kvg_get_values(name, list, values, MAX_BUTTONS, context);
    const char* last = nullptr;
    for (int i = 0; i < count && i < MAX_BUTTONS; ++i)
        for (int label : labels)
            if (values[i] && lk_equal(values[i], kvg_message(context, label))) last = values[i];
    return last;
}
