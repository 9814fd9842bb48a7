"""Trading-rule template layer and its stand-in predicate runtime."""
