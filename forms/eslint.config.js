// The page scripts run in the Windows browser control in IE 11 mode: ES5 syntax and built-ins only.
'use strict';

const esx = require('eslint-plugin-es-x');

module.exports = [
  {
    files: ['common/js/**/*.js', 'eb_df/js/**/*.js', 'eb_ac/js/**/*.js'],
    ...esx.configs['flat/restrict-to-es5'],
  },
  {
    files: ['common/js/**/*.js', 'eb_df/js/**/*.js', 'eb_ac/js/**/*.js'],
    languageOptions: {
      ecmaVersion: 5,
      sourceType: 'script',
      globals: {
        window: 'readonly', document: 'readonly', jQuery: 'readonly', FW: 'writable', alert: 'readonly',
      },
    },
    rules: {
      'no-undef': 'error',
      'no-unused-vars': ['error', { vars: 'local', args: 'none', caughtErrors: 'none' }],
      'no-redeclare': ['error', { builtinGlobals: false }],
      'no-dupe-keys': 'error',
      'no-unreachable': 'error',
      'no-loop-func': 'error',
    },
  },
];
