#include "vdb/demo.h"

#include <array>
#include <cstdio>

#include "vdb/dump.h"
#include "vdb/instance.h"
#include "vdb/session.h"

namespace vdb {

namespace {

constexpr std::string_view password = "demo";

constexpr std::array first_names{"Hannah", "Lukas",  "Sofia", "Jonas",  "Emma",   "Noah",   "Mia",   "Elias",
                                 "Clara",  "Felix",  "Ida",   "Oskar",  "Lena",   "Paul",   "Marta", "Henrik",
                                 "Alice",  "Samuel", "Nora",  "Victor", "Greta",  "Anton",  "Julia", "Tobias"};
constexpr std::array last_names{"Becker", "Lindqvist", "Moreau", "Novak",  "Fischer", "Okafor", "Tanaka",
                                "Rossi",  "Jensen",    "Kowalski", "Silva", "Brennan", "Haas",  "Duarte",
                                "Weber",  "Nakamura",  "Petrov", "Laine",  "Schmitt", "Varga"};
constexpr std::array cities{"Hamburg", "Lyon",   "Turin",  "Gdansk", "Porto", "Aarhus", "Graz",
                            "Leeds",   "Bergen", "Ghent",  "Brno",   "Malmo", "Basel",  "Cork"};
constexpr std::array regions{"North", "South", "East", "West", "Central", "Alpine", "Coastal", "Islands"};
constexpr std::array products{"Desk lamp", "Office chair", "Standing desk", "Monitor arm", "Keyboard", "Mouse",
                              "Headset", "Webcam", "Docking station", "Laptop stand", "Cable tray", "Whiteboard",
                              "Notebook A5", "Fountain pen", "Paper tray", "Stapler", "Label printer", "Shredder",
                              "Footrest", "Desk mat"};
constexpr std::array statuses{"OPEN", "SHIPPED", "INVOICED", "CANCELLED"};
constexpr std::array departments{"Sales", "Finance", "Logistics", "Research", "Support", "Administration"};

// A fixed sequence, so every demo instance holds the same rows.
class Numbers {
public:
    uint32_t next(uint32_t bound) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state_ >> 33) % bound;
    }

private:
    uint64_t state_ = 20240917;
};

template <size_t N>
std::string_view pick(Numbers& numbers, const std::array<const char*, N>& list) {
    return list[numbers.next(N)];
}

Value text(std::string_view s) { return Value::of(s); }
Value number(int64_t n) { return Value::of(n); }
Value money(int64_t cents) { return Value::of(static_cast<double>(cents) / 100.0); }

std::string date(Numbers& numbers) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "20%02u-%02u-%02u", 21 + numbers.next(4), 1 + numbers.next(12),
                  1 + numbers.next(28));
    return buffer;
}

void fill(Session& session, std::string_view owner, std::string_view table, int64_t count,
          const std::function<Row(int64_t)>& make_row) {
    auto writer = session.row_writer(owner, table);
    for (int64_t i = 1; i <= count; ++i) writer->add(make_row(i));
    writer->flush();
    session.commit();
}

void define_objects(Session& s, const Location& loc) {
    for (const std::string& statement : {
             "CREATE TABLESPACE TOOLS DATAFILE '" + default_data_file(loc, "tools") +
                 "' SIZE 8M AUTOEXTEND ON NEXT 1M MAXSIZE 64M",
             "CREATE TABLESPACE TEMP DATAFILE '" + default_data_file(loc, "temp") + "' SIZE 16M TEMPORARY",
             std::string("CREATE USER ADAM IDENTIFIED BY demo DEFAULT TABLESPACE USERS"),
             std::string("GRANT DBA TO ADAM"),
             std::string("CREATE USER EVE IDENTIFIED BY demo DEFAULT TABLESPACE USERS"),
             std::string("GRANT CONNECT, RESOURCE TO EVE"),
             std::string("CREATE USER SALES IDENTIFIED BY demo DEFAULT TABLESPACE USERS"),
             std::string("CREATE USER HR IDENTIFIED BY demo DEFAULT TABLESPACE USERS"),
             std::string("GRANT CONNECT, RESOURCE TO SALES, HR"),
             std::string("CREATE TABLE SALES.REGIONS (ID NUMBER(4) PRIMARY KEY, NAME VARCHAR2(30) NOT NULL)"),
             std::string("CREATE TABLE SALES.CUSTOMERS (ID NUMBER(6) PRIMARY KEY, NAME VARCHAR2(60) NOT NULL, "
                         "CITY VARCHAR2(40), REGION_ID NUMBER(4), EMAIL VARCHAR2(80))"),
             std::string("CREATE TABLE SALES.PRODUCTS (ID NUMBER(6) PRIMARY KEY, NAME VARCHAR2(60) NOT NULL, "
                         "PRICE NUMBER(10,2) NOT NULL)"),
             std::string("CREATE TABLE SALES.ORDERS (ID NUMBER(10) PRIMARY KEY, CUSTOMER_ID NUMBER(6) NOT NULL, "
                         "PRODUCT_ID NUMBER(6) NOT NULL, QUANTITY NUMBER(6), AMOUNT NUMBER(12,2), "
                         "ORDER_DATE DATE, STATUS VARCHAR2(10) DEFAULT 'OPEN')"),
             std::string("CREATE INDEX SALES.ORDERS_CUSTOMER_IX ON SALES.ORDERS (CUSTOMER_ID)"),
             std::string("CREATE TABLE HR.DEPARTMENTS (ID NUMBER(4) PRIMARY KEY, NAME VARCHAR2(30) NOT NULL, "
                         "CITY VARCHAR2(40))"),
             std::string("CREATE TABLE HR.STAFF (ID NUMBER(6) PRIMARY KEY, FIRST_NAME VARCHAR2(30), "
                         "LAST_NAME VARCHAR2(30) NOT NULL, DEPARTMENT_ID NUMBER(4), SALARY NUMBER(8,2), "
                         "HIRED DATE) TABLESPACE TOOLS"),
             std::string("CREATE UNIQUE INDEX HR.STAFF_NAME_UX ON HR.STAFF (LAST_NAME, FIRST_NAME, ID) TABLESPACE TOOLS"),
         })
        s.execute(statement);
}

void fill_rows(Session& s) {
    Numbers n;
    fill(s, "SALES", "REGIONS", int64_t(regions.size()),
         [&](int64_t i) { return Row{number(i), text(regions[size_t(i - 1)])}; });
    fill(s, "SALES", "CUSTOMERS", 250, [&](int64_t id) {
        std::string first(pick(n, first_names)), last(pick(n, last_names));
        std::string email = first + "." + last + "@example.com";
        for (char& c : email) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return Row{number(id), text(first + " " + last), text(pick(n, cities)), number(1 + n.next(8)), text(email)};
    });
    fill(s, "SALES", "PRODUCTS", int64_t(products.size()), [&](int64_t i) {
        return Row{number(i), text(products[size_t(i - 1)]), money(499 + n.next(60000))};
    });
    fill(s, "SALES", "ORDERS", 100000, [&](int64_t i) {
        int64_t quantity = 1 + n.next(20);
        return Row{number(i), number(1 + n.next(250)), number(1 + n.next(int(products.size()))), number(quantity),
                   money(quantity * (499 + n.next(60000))), text(date(n)), text(pick(n, statuses))};
    });
    fill(s, "HR", "DEPARTMENTS", int64_t(departments.size()), [&](int64_t i) {
        return Row{number(i), text(departments[size_t(i - 1)]), text(pick(n, cities))};
    });
    fill(s, "HR", "STAFF", 60, [&](int64_t i) {
        return Row{number(i), text(pick(n, first_names)), text(pick(n, last_names)),
                   number(1 + n.next(int(departments.size()))), money(3200000 + n.next(6000000)), text(date(n))};
    });
}

void write_export(const Location& loc) {
    std::string file = "FILE=" + loc.export_dir() + "/expdat.dmp";
    std::string login = "SYSTEM/" + std::string(password);
    char program[] = "dbdump", full[] = "FULL=Y";
    char* argv[] = {program, login.data(), full, file.data()};
    UtilityParameters parameters(4, argv, export_parameters);
    Report report(true);
    auto session = Session::connect(loc, parameters.user(), parameters.password());
    if (run_export(parameters, *session, report) != 0) fail(code::io_failure, "the demo export did not succeed");
}

}  // namespace

void create_demo_instance(const Location& loc) {
    create_instance(loc, password);
    auto session = Session::connect(loc, "SYSTEM", password);
    define_objects(*session, loc);
    fill_rows(*session);
    session.reset();
    write_export(loc);
}

}  // namespace vdb
