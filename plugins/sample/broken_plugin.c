/* A library that fails to load: it needs a symbol nothing provides. */
extern int quillmoor_symbol_that_does_not_exist(void);
__attribute__((visibility("default"))) int QMPInit(void) { return quillmoor_symbol_that_does_not_exist(); }
