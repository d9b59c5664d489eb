#pragma once

// What the main window's content works over: the controller, the account, the history and the
// glossary. The program hands over the process's own; tests hand over stores of their own.

namespace velmora {

class AccountState;
class AppController;
class Glossary;
class HistoryStore;

struct MainServices {
    AppController& controller;
    AccountState& account;
    HistoryStore& history;
    Glossary& glossary;

    /// The controller with the process's shared account, history and glossary.
    static MainServices shared(AppController& controller);
};

}  // namespace velmora
