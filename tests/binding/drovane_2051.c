/* A module that exists only for its version resource. */
int drovane_placeholder;
