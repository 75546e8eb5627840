// The login password store; see PasswordStore.h.
